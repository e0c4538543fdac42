#pragma once

// An item to bid on, stored as the program would have read it, and the simulated site it
// is on. Header-only: suites that link the bidding, app core and simulator libraries.
#include "armedbid.h"
#include "armedbids.h"
#include "credentials.h"
#include "simsettings.h"
#include "simsite.h"
#include "testapp.h"

#include <QTest>

using namespace Qt::StringLiterals;

struct BidFixture : TestApp
{
    sim::SimSite site;

    explicit BidFixture(sim::Scenario s) : site(std::move(s))
    {
        if (site.listenOn() == 0)
            qFatal("cannot set up");
        reachSimulatedSite(settings, site.port());
        values.ownId = u"snipe_taro"_s;
        values.password = u"taro1234"_s;
        values.encodedPassword = sw::encodePassword(values.password);
        values.befSec = 5;
    }
    // Stores the simulated item as the program would have read it.
    int store(const sim::Item &it, qint32 max, int quantity, int status = 0,
              const QString &cat = u"0"_s)
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
    QStringList logLines()
    {
        log.flush();
        return ::logLines(db);
    }
    QString logText() { return logLines().join(QLatin1Char('\n')); }
    QList<sim::RequestRecord> confirmations(const QString &itemId = u"x1"_s)
    {
        QList<sim::RequestRecord> out;
        for (const sim::RequestRecord &r : site.requestsTo(u"/jp/config/placebid"_s)) {
            if (r.item == itemId)
                out << r;
        }
        return out;
    }
    QList<sim::RequestRecord> previews(const QString &itemId = u"x1"_s)
    {
        QList<sim::RequestRecord> out;
        for (const sim::RequestRecord &r : site.requestsTo(u"/jp/show/bid_preview"_s)) {
            if (r.item == itemId)
                out << r;
        }
        return out;
    }
    QStringList amountsSent(const QString &itemId = u"x1"_s)
    {
        QStringList out;
        for (const sim::RequestRecord &r : confirmations(itemId))
            out << QUrlQuery(r.query).queryItemValue(u"Bid"_s);
        return out;
    }
};

// A whole second this far from now.
inline QDateTime wholeSecond(qint64 fromNowMs)
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch() + fromNowMs;
    return QDateTime::fromMSecsSinceEpoch(ms / 1000 * 1000, sim::japanTime());
}

inline sim::Scenario scenarioWith(const QList<sim::Item> &items)
{
    sim::Scenario s;
    s.showSeconds = true; // these auctions end at any second
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
