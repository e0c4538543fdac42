#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

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
    ~ActivityLog() override;

    void LOGTodb(const QString &message);
    // Appends a moment later, together with whatever else comes in meanwhile: for the
    // instant bids are sent, when no disk write may hold back the next window's request.
    // Order is kept: any LOGTodb writes the waiting lines first.
    void LOGTodbSoon(const QString &message);
    void flush();
    // While `hold` answers true (a bid is about to reach the site) lines wait in memory,
    // for at most a few seconds; a disk write then cannot hold back a request.
    void setHold(std::function<bool()> hold) { m_hold = std::move(hold); }
    // Deletes every entry; false (and failed()) when the database refused.
    bool clear();
    // Deletes the entries that name the item.
    bool clearItem(const QString &itemid);
    ItemDatabase &database() { return m_db; }

signals:
    void appended();
    void cleared();
    void failed(const QString &text);

private:
    bool append(const QString &message);
    // Says a deletion's outcome: cleared() or failed().
    bool reportClear(bool done);
    void scheduleFlush(int ms);
    void flushWhenFree();

    ItemDatabase &m_db;
    QStringList m_pending;
    bool m_flushScheduled = false;
    std::function<bool()> m_hold;
    qint64 m_heldSinceMs = -1;
};

} // namespace sw
