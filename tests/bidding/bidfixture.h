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

struct BidFixture : TestApp
{
    sim::SimSite site;

    explicit BidFixture(sim::Scenario s) : site(std::move(s))
    {
        if (site.listenOn() == 0)
            qFatal("cannot set up");
        reachSimulatedSite(settings, site.port());
        values.ownId = QStringLiteral("snipe_taro");
        values.password = QStringLiteral("taro1234");
        values.encodedPassword = sw::encodePassword(values.password);
        values.befSec = 5;
    }
    // Stores the simulated item as the program would have read it.
    int store(const sim::Item &it, qint32 max, int quantity, int status = 0,
              const QString &cat = QStringLiteral("0"))
    {
        sw::ItemRecord r;
        r.itemid = it.id;
        r.Itemname = it.title;
        r.Serverid = QString::number(it.server);
        r.ItemYenNow = it.price;
        r.SaikougakuShaid = it.highBidder.isEmpty() ? QStringLiteral("-") : it.highBidder;
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
    QList<sim::RequestRecord> confirmations(const QString &itemId = QStringLiteral("x1"))
    {
        QList<sim::RequestRecord> out;
        for (const sim::RequestRecord &r : site.requestsTo(QStringLiteral("/jp/config/placebid"))) {
            if (r.item == itemId)
                out << r;
        }
        return out;
    }
    QList<sim::RequestRecord> previews(const QString &itemId = QStringLiteral("x1"))
    {
        QList<sim::RequestRecord> out;
        for (const sim::RequestRecord &r :
             site.requestsTo(QStringLiteral("/jp/show/bid_preview"))) {
            if (r.item == itemId)
                out << r;
        }
        return out;
    }
    QStringList amountsSent(const QString &itemId = QStringLiteral("x1"))
    {
        QStringList out;
        for (const sim::RequestRecord &r : confirmations(itemId))
            out << QUrlQuery(r.query).queryItemValue(QStringLiteral("Bid"));
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
    s.bidders << sim::Bidder{QStringLiteral("snipe_taro"), QStringLiteral("taro1234"), {}}
              << sim::Bidder{QStringLiteral("rival"), QStringLiteral("r"), {}};
    s.items = items;
    return s;
}

inline sim::Scenario scenarioWith(const sim::Item &it)
{
    return scenarioWith(QList<sim::Item>{it});
}

// A rival leads at 3,000 with that as its maximum; nobody else bids.
inline sim::Item item(const QDateTime &end, const QString &id = QStringLiteral("x1"))
{
    sim::Item it;
    it.id = id;
    it.server = 3;
    it.title = QStringLiteral("テスト商品 ") + id;
    it.startPrice = 1000;
    it.price = 3000;
    it.bids = 2;
    it.highBidder = QStringLiteral("rival");
    it.maxBids.insert(it.highBidder, 3000);
    it.end = end;
    it.autoExtend = false;
    return it;
}
