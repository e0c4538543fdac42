#include "activitylog.h"

#include "database.h"

#include <QDateTime>
#include <QTimer>

#include <cstdio>
#include <utility>

namespace sw {

namespace {
// Long enough for every window whose bid time falls in the same moment to send.
constexpr int kSoonMs = 300;
// Lines never wait longer than this for the bids to be out.
constexpr qint64 kMaxHoldMs = 5000;
} // namespace

ActivityLog::ActivityLog(ItemDatabase &db, QObject *parent) : QObject(parent), m_db(db) {}

ActivityLog::~ActivityLog()
{
    flush();
}

void ActivityLog::LOGTodb(const QString &message)
{
    if (m_hold && m_hold()) {
        m_pending << message;
        scheduleFlush(kSoonMs);
        return;
    }
    flush();
    if (append(message))
        emit appended();
}

void ActivityLog::LOGTodbSoon(const QString &message)
{
    m_pending << message;
    scheduleFlush(kSoonMs);
}

void ActivityLog::scheduleFlush(int ms)
{
    if (m_flushScheduled)
        return;
    m_flushScheduled = true;
    QTimer::singleShot(ms, this, &ActivityLog::flushWhenFree);
}

void ActivityLog::flushWhenFree()
{
    m_flushScheduled = false;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_hold && m_hold()) {
        if (m_heldSinceMs < 0)
            m_heldSinceMs = now;
        if (now - m_heldSinceMs < kMaxHoldMs) {
            scheduleFlush(kSoonMs);
            return;
        }
    }
    m_heldSinceMs = -1;
    flush();
}

void ActivityLog::flush()
{
    m_flushScheduled = false;
    if (m_pending.isEmpty())
        return;
    const QStringList lines = std::exchange(m_pending, {});
    bool any = false;
    for (const QString &line : lines)
        any = append(line) || any;
    if (any)
        emit appended();
}

bool ActivityLog::append(const QString &message)
{
    if (m_db.appendLog(message))
        return true;
    const QString text = QStringLiteral("ログを書き込めませんでした（") + m_db.lastError() +
                         QStringLiteral("）：") + message;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    emit failed(text);
    return false;
}

bool ActivityLog::reportClear(bool done)
{
    if (done) {
        emit cleared();
        return true;
    }
    const QString text = QStringLiteral("ログを削除できませんでした：") + m_db.lastError();
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    emit failed(text);
    return false;
}

bool ActivityLog::clearItem(const QString &itemid)
{
    flush();
    return reportClear(m_db.clearLogOf(itemid));
}

bool ActivityLog::clear()
{
    return reportClear(m_db.clearLog());
}

} // namespace sw
