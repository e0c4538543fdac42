#pragma once

// Items of the simulated site as the program would have stored them. Header-only: suites
// that link the store and simulator libraries.
#include "database.h"
#include "simsite.h"

#include <QDateTime>

using namespace Qt::StringLiterals;

// A whole second this far from now.
inline QDateTime wholeSecond(qint64 fromNowMs)
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch() + fromNowMs;
    return QDateTime::fromMSecsSinceEpoch(ms / 1000 * 1000, sim::japanTime());
}

// The member snipe_taro (password taro1234) and a rival, on a site whose auctions end at any
// second.
inline sim::Scenario scenarioWith(const QList<sim::Item> &items)
{
    sim::Scenario s;
    s.showSeconds = true;
    s.bidders << sim::Bidder{u"snipe_taro"_s, u"taro1234"_s, {}}
              << sim::Bidder{u"rival"_s, u"r"_s, {}};
    s.items = items;
    return s;
}

inline sim::Scenario scenarioWith(const sim::Item &it)
{
    return scenarioWith(QList<sim::Item>{it});
}

// A rival leads at 3,000 with that as its maximum; nobody else bids.
inline sim::Item item(const QDateTime &end, const QString &id = u"x1"_s)
{
    sim::Item it;
    it.id = id;
    it.server = 3;
    it.title = u"テスト商品 "_s + id;
    it.startPrice = 1000;
    it.price = 3000;
    it.bids = 2;
    it.highBidder = u"rival"_s;
    it.maxBids.insert(it.highBidder, 3000);
    it.end = end;
    it.autoExtend = false;
    return it;
}

// Stores the simulated item as the program would have read it, with the user's limits; its
// record id.
inline int storeAsRead(sw::ItemDatabase &db, const sim::Item &it, qint32 max, int quantity,
                       int status = 0, const QString &cat = u"0"_s)
{
    sw::ItemRecord r;
    r.itemid = it.id;
    r.Itemname = it.title;
    r.Serverid = QString::number(it.server);
    r.ItemYenNow = it.price;
    r.SaikougakuShaid = it.highBidder.isEmpty() ? u"-"_s : it.highBidder;
    r.enddate = it.end;
    r.NumUri = it.quantity;
    r.NumNyuusatu = it.bids;
    r.ItemYenStart = it.startPrice;
    r.ItemYenUnit = it.showUnit ? it.unit() : 0;
    r.ItemYenKibou = it.buyNow;
    r.Flagjidouencho = it.autoExtend;
    r.Flagsaitei = it.reserve > 0;
    db.upsertItem(r);
    const int id = db.itemByItemid(it.id)->id;
    db.saveUserColumns(id, max, cat, quantity, status);
    return id;
}
