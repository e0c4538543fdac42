#pragma once

// An item to bid on, stored as the program would have read it, and the simulated site it
// is on. Header-only: suites that link the bidding, app core and simulator libraries.
#include "armedbid.h"
#include "armedbids.h"
#include "clock.h"
#include "credentials.h"
#include "simitems.h"
#include "simsettings.h"
#include "simsite.h"
#include "testapp.h"

#include <QTest>

using namespace Qt::StringLiterals;

// Waits until the auction is over by the site's clock, and a little more.
inline void waitPast(const QDateTime &end, int extraMs = 2500)
{
    if (!QTest::qWaitFor([&] { return sw::now().msecsTo(end) < -extraMs; }, 60000))
        qWarning("the auction did not end in time");
}

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
        return storeAsRead(db, it, max, quantity, status, cat);
    }
    QStringList logLines()
    {
        log.flush();
        return ::logLines(db);
    }
    QString logText() { return logLines().join(QLatin1Char('\n')); }
    QList<sim::RequestRecord> requestsFor(const QString &path, const QString &itemId)
    {
        QList<sim::RequestRecord> out = site.requestsTo(path);
        out.removeIf([&itemId](const sim::RequestRecord &r) { return r.item != itemId; });
        return out;
    }
    QList<sim::RequestRecord> confirmations(const QString &itemId = u"x1"_s)
    {
        return requestsFor(u"/jp/config/placebid"_s, itemId);
    }
    QList<sim::RequestRecord> previews(const QString &itemId = u"x1"_s)
    {
        return requestsFor(u"/jp/show/bid_preview"_s, itemId);
    }
    QStringList amountsSent(const QString &itemId = u"x1"_s)
    {
        QStringList out;
        for (const sim::RequestRecord &r : confirmations(itemId))
            out << QUrlQuery(r.query).queryItemValue(u"Bid"_s);
        return out;
    }
};
