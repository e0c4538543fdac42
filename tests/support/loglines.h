#pragma once

#include "database.h"

#include <QStringList>

// The activity log, oldest line first.
inline QStringList logLines(sw::ItemDatabase &db)
{
    QStringList out;
    const QList<sw::LogEntry> entries = db.logEntries().value_or(QList<sw::LogEntry>{});
    for (const sw::LogEntry &e : entries)
        out.prepend(e.Memo);
    return out;
}
