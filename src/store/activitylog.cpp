#include "activitylog.h"

#include "database.h"

#include <cstdio>

namespace sw {

ActivityLog::ActivityLog(ItemDatabase &db, QObject *parent) : QObject(parent), m_db(db) {}

void ActivityLog::LOGTodb(const QString &message)
{
    if (m_db.appendLog(message)) {
        emit appended();
        return;
    }
    const QString text = QStringLiteral("ログを書き込めませんでした（") + m_db.lastError() +
                         QStringLiteral("）：") + message;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    emit failed(text);
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
