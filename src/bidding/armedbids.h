#pragma once

#include "appcontext.h"
#include "notice.h"

#include <QList>
#include <QObject>
#include <QString>

#include <map>
#include <optional>

class QTimer;

namespace sw {

class ArmedBid;
class ClockProbe;
class PageFetcher;

// Every item watched for bidding, by record id, outside any window: a bid window shows
// one of them, and its bid goes on when the window closes. Here too the rules between
// items: one win per category, the site's clock for the bids that are near, and the
// item list read again only once the bids of the moment are out.
class ArmedBids : public QObject
{
    Q_OBJECT
public:
    explicit ArmedBids(AppContext &ctx, QObject *parent = nullptr);
    ~ArmedBids() override;

    ArmedBid *find(int id) const;
    // The item's, made and loaded when there is none yet; nullptr when the store has no
    // such item.
    ArmedBid *acquire(int id);
    // No window shows the item any more: it goes unless it is armed for a bid to come.
    void release(int id);
    QList<ArmedBid *> all() const;

    // Another item of the same category already won, or ended with us leading: why `bid`
    // must not be made (only while one win per category is on).
    std::optional<QString> categoryBlock(const ArmedBid &bid) const;

    ClockProbe &clockProbe();

signals:
    void itemsChanged();
    void result(const QString &dialogText, bool show);
    void loginNeeded();
    void notice(sw::NoticeKind kind, const QString &text);
    void bidChanged(); // one of the bids changed its state or its item

private:
    void itemChanged();

    AppContext &m_ctx;
    std::map<int, ArmedBid *> m_bids;
    QTimer *m_changedTimer;
    PageFetcher *m_probeFetcher;
    ClockProbe *m_probe;
};

} // namespace sw
