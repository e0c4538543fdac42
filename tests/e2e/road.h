#pragma once

// The whole program in this process, as main() builds it, against the simulated site:
// the frame with its built-in browser, item list and scheduler over a data folder.
#include "activitylog.h"
#include "appcontext.h"
#include "appvalues.h"
#include "bidhost.h"
#include "bidwindows.h"
#include "categories.h"
#include "cookiejar.h"
#include "credentials.h"
#include "database.h"
#include "frmlogin.h"
#include "frmsw.h"
#include "itemparser.h"
#include "mdiform1.h"
#include "pageroutechild.h"
#include "scriptedprompter.h"
#include "settingsstore.h"
#include "simsettings.h"
#include "simsite.h"
#include "sitehosts.h"
#include "startupdb.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

struct Road
{
    sim::SimSite &site;
    sw::AppPaths paths;
    sw::SettingsStore settings{paths.settingsFile};
    sw::AppValues values;
    std::unique_ptr<sw::ItemDatabase> db;
    std::unique_ptr<sw::ActivityLog> log;
    ScriptedPrompter prompter;
    sw::CategoryNames categories{settings};
    sw::SiteHosts hosts;
    std::unique_ptr<sw::PersistentCookieJar> cookies;
    std::unique_ptr<sw::ItemPageParser> parser;
    std::unique_ptr<sw::AppContext> ctx;
    std::unique_ptr<sw::MDIForm1> frame;

    static constexpr auto kMember = "demo_taro";
    static constexpr auto kPassword = "demo1234";

    Road(sim::SimSite &s, const QString &dataDir, int befSec, bool catOn = false)
        : site(s), paths{dataDir, dataDir + u"/snipewell.ini"_s}
    {
        if (!sw::createDataFolderIfNew(paths).ok())
            qFatal("cannot create the data folder");
        const QString k = u"Settings"_s;
        settings.save(k, u"yuser"_s, QString::fromLatin1(kMember));
        settings.save(k, u"ypass"_s, sw::Scramble(QString::fromLatin1(kPassword)));
        settings.save(k, u"BefSec"_s, QString::number(befSec));
        settings.save(k, u"CATOn"_s, catOn ? u"1"_s : u"0"_s);
        reachSimulatedSite(settings, site.port());
        sw::loadCredentials(settings, values);
        db = std::make_unique<sw::ItemDatabase>(paths.database());
        if (!db->open())
            qFatal("cannot open the database");
        log = std::make_unique<sw::ActivityLog>(*db);
        cookies = std::make_unique<sw::PersistentCookieJar>(dataDir + u"/cookies.txt"_s);
        parser = std::make_unique<sw::ItemPageParser>(*db);
        hosts = sw::SiteHosts(settings); // the simulated site's scheme
        ctx = std::make_unique<sw::AppContext>(sw::AppContext{
            settings, values, *db, *log, prompter, categories, hosts, *cookies, *parser});
        frame = std::make_unique<sw::MDIForm1>(*ctx);
        // Bids on today's site go through the program's own child, which reads this data
        // folder's settings and cookies.
        qputenv("SNIPEWELL_HOME", dataDir.toLocal8Bit());
        frame->host().setPageRoute(new sw::PageRouteChild(QStringLiteral(SNIPEWELL_BIN), *log));
        frame->resize(1200, 800);
        frame->show();
        frame->load();
    }

    ~Road() { end(); }

    // The program ends as when its window is closed.
    void end()
    {
        if (!frame)
            return;
        frame->close();
        frame.reset();
        log->flush();
    }

    // The way a user logs in: the scheduler raises the credentials dialog while the
    // browser shows the login page; ログインする fills the page in.
    bool logIn()
    {
        if (!QTest::qWaitFor([this] { return frame->login() && frame->login()->isVisible(); },
                             15000))
            return false;
        frame->login()->findChild<QPushButton *>(u"Command2"_s)->click();
        return QTest::qWaitFor([this] { return !frame->login()->isVisible(); }, 20000);
    }

    // ﾂｰﾙ > ｳｫｯﾁﾘｽﾄから取り込み, until the list holds `count` items.
    bool importWatchList(int count)
    {
        frame->mnuGetWatchList_Click();
        return QTest::qWaitFor(
            [&] {
                const auto rows = db->listItems({}, QDateTime::currentDateTime());
                return rows && rows->size() >= count &&
                       frame->findChild<QMenu *>(u"mnuTools"_s)->menuAction()->isEnabled();
            },
            30000);
    }

    int idOf(const QString &itemid) { return db->itemByItemid(itemid)->id; }

    // Opens the item's bid window, types the maximum, picks the quantity and the category,
    // saves, and closes the window again (the scheduler opens it when the time comes).
    bool setLimits(const QString &itemid, qint32 max, int quantity, int category = 0)
    {
        sw::frmSw *w = frame->bidWindows()->open(idOf(itemid));
        if (!w)
            return false;
        w->findChild<QLineEdit *>(u"txtYen_0"_s)->setText(QString::number(max));
        auto *num = w->findChild<QComboBox *>(u"cmbNum"_s);
        num->setCurrentIndex(num->findText(QString::number(quantity)));
        auto *cat = w->findChild<QComboBox *>(u"cat"_s);
        cat->setCurrentIndex(category);
        w->findChild<QPushButton *>(u"cmdUpdate"_s)->click();
        w->window()->close();
        const std::optional<sw::ItemRecord> saved = db->itemByItemid(itemid);
        return saved && saved->ItemYen == max && saved->Numkai == quantity;
    }

    std::optional<sw::ItemRecord> item(const QString &itemid) { return db->itemByItemid(itemid); }

    QStringList logLines()
    {
        log->flush();
        QStringList out;
        for (const sw::LogEntry &e : db->logEntries().value_or(QList<sw::LogEntry>{}))
            out.prepend(e.Memo);
        return out;
    }
};

// The first confirmation of each item that reached the site after `sinceMs`, by item id: a
// classic confirmation, or the final request of today's page.
inline QHash<QString, qint64> confirmations(const sim::SimSite &site, qint64 sinceMs)
{
    QHash<QString, qint64> at;
    for (const sim::RequestRecord &r : site.requests()) {
        if (r.atMs < sinceMs)
            continue;
        QString id;
        if (r.path == "/jp/config/placebid"_L1 && r.query.startsWith(u"Partial=1&ItemID="_s))
            id = r.query.section(QLatin1Char('&'), 1, 1).section(QLatin1Char('='), 1);
        else if (r.path == "/api/v1/bid/place"_L1)
            id = r.item;
        if (!id.isEmpty() && !at.contains(id))
            at.insert(id, r.atMs);
    }
    return at;
}
