#include "clockreport.h"

#include "activitylog.h"
#include "siteclock.h"

#include <QTimer>

#include <cstdlib>

namespace sw {

namespace {
constexpr qint64 kWorthTellingMs = 1000;
constexpr qint64 kTellAgainMs = 500;
constexpr qint64 kNarrowEnoughMs = 400;

QString secondsText(qint64 ms, bool sign)
{
    const QString n = QString::number(double(std::llabs(ms)) / 1000.0, 'f', 1);
    if (!sign)
        return n + QStringLiteral("秒");
    return (ms < 0 ? QStringLiteral("-") : QStringLiteral("+")) + n + QStringLiteral("秒");
}
} // namespace

ClockReport::ClockReport(ActivityLog &log, QObject *parent)
    : QObject(parent), m_log(log), m_timer(new QTimer(this))
{
    SiteClock &clock = siteClock();
    connect(&clock, &SiteClock::offsetChanged, this, &ClockReport::onOffsetChanged);
    connect(&clock, &SiteClock::dateUnreadable, this, [this](const QString &value) {
        m_unreadable = true;
        m_log.LOGTodb(QStringLiteral("サイトの応答の時刻が読めないため、サイトの時計との差を測れま"
                                     "せん（最後に測った差で入札します）：") +
                      (value.isEmpty() ? QStringLiteral("（時刻なし）") : value));
        emit statusChanged(statusText());
    });
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &ClockReport::checkJump);
    m_timer->start();
}

QString ClockReport::offsetText(std::optional<qint64> offsetMs)
{
    if (!offsetMs)
        return QStringLiteral("サイトの時計との差：未測定");
    return QStringLiteral("サイトの時計との差：") + secondsText(*offsetMs, true);
}

QString ClockReport::statusText() const
{
    const std::optional<qint64> offset = siteClock().offsetMs();
    if (!offset && m_unreadable)
        return QStringLiteral("サイトの時計との差：測れません");
    return offsetText(offset);
}

void ClockReport::onOffsetChanged()
{
    const std::optional<qint64> offset = siteClock().offsetMs();
    emit statusChanged(statusText());
    if (!offset)
        return;
    // Said once the estimate is narrow enough to be worth its tenths of a second.
    if (siteClock().uncertaintyMs() > kNarrowEnoughMs)
        return;
    const bool worth = std::llabs(*offset) > kWorthTellingMs;
    const bool moved = !m_logged || std::llabs(*offset - *m_logged) >= kTellAgainMs;
    if (!worth || !moved) {
        if (!worth && m_logged)
            m_logged.reset(); // right again: a later difference is news
        return;
    }
    m_logged = offset;
    const QString how =
        *offset > 0 ? QStringLiteral("遅れています") : QStringLiteral("進んでいます");
    const QString text = offsetText(offset) + QStringLiteral("（パソコンの時計が") +
                         secondsText(*offset, false) + how +
                         QStringLiteral("。入札はサイトの時計に合わせます）");
    m_log.LOGTodb(text);
    emit farOff(text);
}

void ClockReport::checkJump()
{
    const qint64 jump = siteClock().checkWallJump();
    if (jump == 0)
        return;
    m_log.LOGTodb(QStringLiteral("パソコンの時計が") + secondsText(jump, false) +
                  (jump > 0 ? QStringLiteral("進められました") : QStringLiteral("戻されました")) +
                  (siteClock().measured()
                       ? QStringLiteral("（入札はサイトの時計に合わせるので影響ありません）")
                       : QStringLiteral("（サイトの時計はまだ測れていません）")));
    emit statusChanged(statusText());
}

} // namespace sw
