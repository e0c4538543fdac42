#pragma once

#include <QObject>
#include <QString>

namespace sw {

class ItemDatabase;

// The activity log in tblLog. Any window may append at any time; a failed append is
// reported (standard error and the failed() signal, which the frame shows in its status
// bar) and never disturbs the caller.
class ActivityLog : public QObject
{
    Q_OBJECT
public:
    explicit ActivityLog(ItemDatabase &db, QObject *parent = nullptr);

    void LOGTodb(const QString &message);
    // Deletes every entry; false (and failed()) when the database refused.
    bool clear();
    ItemDatabase &database() { return m_db; }

signals:
    void appended();
    void cleared();
    void failed(const QString &text);

private:
    ItemDatabase &m_db;
};

} // namespace sw
