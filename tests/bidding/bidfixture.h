#pragma once

// An item to bid on, stored as the program would have read it, and the simulated site it
// is on. Header-only: suites that link the bidding, app core and simulator libraries.
#include "armedbid.h"
#include "armedbids.h"
#include "credentials.h"
#include "simitems.h"
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
        return storeAsRead(db, it, max, quantity, status, cat);
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
