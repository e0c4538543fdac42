#pragma once

// The program's long-lived objects over a fresh data folder, as app/ builds them.
// Header-only: include it from suites that link the store, site and app libraries.
#include "activitylog.h"
#include "appcontext.h"
#include "appvalues.h"
#include "categories.h"
#include "cookiejar.h"
#include "database.h"
#include "directwriter.h"
#include "itemparser.h"
#include "loglines.h"
#include "scriptedprompter.h"
#include "settingsstore.h"
#include "sitehosts.h"
#include "tempdir.h"

using namespace Qt::StringLiterals;

struct TestApp
{
    TempHome home;
    sw::SettingsStore settings{home.path(u"snipewell.ini"_s)};
    sw::AppValues values;
    sw::ItemDatabase db{home.path(u"db2k.mdb"_s)};
    sw::ActivityLog log{db};
    ScriptedPrompter prompter;
    sw::CategoryNames categories{settings};
    sw::SiteHosts hosts;
    sw::PersistentCookieJar cookies{home.path(u"cookies.txt"_s)};
    sw::ItemPageParser parser{db};
    sw::AppContext ctx{settings, values, db, log, prompter, categories, hosts, cookies, parser};

    TestApp()
    {
        // The simulated site is reached over plain http through a proxy on loopback.
        hosts.scheme = u"http"_s;
        parser.setHosts(&hosts);
        writeStraightToStore(parser, db); // until an owner of armed bids takes the writing
        if (!db.open() || !db.createSchema())
            qFatal("cannot create the test database");
    }
    // An item of the list (its name is its id), with the user's limits; its record id.
    int addItem(const QString &itemid, const QDateTime &end, qint64 max = 0, int numkai = 0,
                const QString &cat = u"0"_s, const QString &bidder = u"-"_s, bool fin = false)
    {
        sw::ItemRecord r;
        r.itemid = itemid;
        r.Itemname = itemid;
        r.Serverid = u"3"_s;
        r.ItemYenNow = 1000;
        r.SaikougakuShaid = bidder;
        r.enddate = end;
        r.NumUri = 1;
        r.ItemYenUnit = 100;
        r.fin = fin;
        if (db.upsertItem(r) == sw::ItemDatabase::Upsert::Failed)
            qFatal("cannot store an item");
        const int id = db.itemByItemid(itemid)->id;
        db.saveUserColumns(id, max, cat, numkai, 0);
        return id;
    }
};
