#include "activitylog.h"

#include "database.h"

#include <QTimer>

#include <cstdio>
#include <utility>

namespace sw {

namespace {
// Long enough for every window whose bid time falls in the same moment to send.
constexpr int kSoonMs = 300;
} // namespace

ActivityLog::ActivityLog(ItemDatabase &db, QObject *parent) : QObject(parent), m_db(db) {}

ActivityLog::~ActivityLog()
{
    flush();
}

void ActivityLog::LOGTodb(const QString &message)
{
    flush();
    if (append(message))
        emit appended();
}

void ActivityLog::LOGTodbSoon(const QString &message)
{
    m_pending << message;
    if (m_flushScheduled)
        return;
    m_flushScheduled = true;
    QTimer::singleShot(kSoonMs, this, &ActivityLog::flush);
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

bool ActivityLog::clear()
{
    if (m_db.clearLog()) {
        emit cleared();
        return true;
    }
    const QString text = QStringLiteral("ログを削除できませんでした：") + m_db.lastError();
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    emit failed(text);
    return false;
}

} // namespace sw
