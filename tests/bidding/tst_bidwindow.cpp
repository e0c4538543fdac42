#include "activitylog.h"
#include "appvalues.h"
#include "bidwindows.h"
#include "categories.h"
#include "cookiejar.h"
#include "credentials.h"
#include "database.h"
#include "dialog1.h"
#include "frmsw.h"
#include "itemparser.h"
#include "scriptedprompter.h"
#include "settingsstore.h"
#include "simsite.h"
#include "sitehosts.h"
#include "tempdir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>

using namespace sw;

namespace {

struct Fixture
{
    TempHome home;
    SettingsStore settings{home.path(QStringLiteral("snipewell.ini"))};
    AppValues values;
    ItemDatabase db{home.path(QStringLiteral("db2k.mdb"))};
    ActivityLog log{db};
    ScriptedPrompter prompter;
    CategoryNames categories{settings};
    SiteHosts hosts;
    PersistentCookieJar cookies{home.path(QStringLiteral("cookies.txt"))};
    ItemPageParser parser{db};
    AppContext ctx{settings, values, db, log, prompter, categories, hosts, cookies, parser};
    sim::SimSite site;
    BidWindows windows{ctx, nullptr, nullptr};

    explicit Fixture(sim::Scenario s) : site(std::move(s))
    {
        if (!db.open() || !db.createSchema() || site.listenOn() == 0)
            qFatal("cannot set up");
        settings.save(QStringLiteral("Settings"), QStringLiteral("Proxy"),
                      QStringLiteral("HTTP=127.0.0.1:") + QString::number(site.port()));
        values.ownId = QStringLiteral("snipe_taro");
        values.password = QStringLiteral("taro1234");
        values.encodedPassword = encodePassword(values.password);
        values.befSec = 5;
    }
    // Stores the simulated item as the program would have read it.
    int store(const sim::Item &it, qint32 max, int quantity, int status = 0)
    {
        ItemRecord r;
        r.itemid = it.id;
        r.Itemname = it.title;
        r.Serverid = QString::number(it.server);
        r.ItemYenNow = it.price;
        r.SaikougakuShaid = it.highBidder.isEmpty() ? QStringLiteral("-") : it.highBidder;
        r.enddate = it.end;
        r.NumUri = it.quantity;
        r.NumNyuusatu = it.bids;
        r.ItemYenStart = it.startPrice;
        r.ItemYenUnit = it.unit();
        r.ItemYenKibou = it.buyNow;
        r.Flagjidouencho = it.autoExtend;
        db.upsertItem(r);
        const int id = db.itemByItemid(it.id)->id;
        db.saveUserColumns(id, max, QStringLiteral("0"), quantity, status);
        return id;
    }
    QStringList logLines()
    {
        QStringList out;
        const QList<LogEntry> entries = db.logEntries().value_or(QList<LogEntry>{});
        for (const LogEntry &e : entries)
            out.prepend(e.Memo);
        return out;
    }
};

QDateTime wholeSecond(qint64 fromNowMs)
{
    const QDateTime t = QDateTime::currentDateTime().addMSecs(fromNowMs);
    return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute(), t.time().second()));
}

sim::Scenario scenarioWith(const sim::Item &it)
{
    sim::Scenario s;
    s.bidders << sim::Bidder{QStringLiteral("snipe_taro"), QStringLiteral("taro1234"), {}}
              << sim::Bidder{QStringLiteral("rival"), QStringLiteral("r"), {}};
    s.items << it;
    return s;
}

sim::Item item(const QDateTime &end)
{
    sim::Item it;
    it.id = QStringLiteral("x1");
    it.server = 3;
    it.title = QStringLiteral("テスト商品");
    it.startPrice = 1000;
    it.price = 3000;
    it.bids = 2;
    it.highBidder = QStringLiteral("rival");
    it.maxBids.insert(it.highBidder, 3000);
    it.end = end;
    return it;
}

} // namespace

class tst_BidWindow : public QObject
{
    Q_OBJECT
private slots:
    void armsAndBidsAtTheBidTime();
};

void tst_BidWindow::armsAndBidsAtTheBidTime()
{
    const QDateTime end = wholeSecond(9000);
    Fixture f(scenarioWith(item(end)));
    const int id = f.store(item(end), 5000, 1);
    frmSw *w = f.windows.open(id);
    QVERIFY(w->armed());
    QTRY_VERIFY_WITH_TIMEOUT(!f.site.requestsTo(QStringLiteral("/jp/config/placebid")).isEmpty(),
                             12000);
    qInfo() << f.logLines();
}

QTEST_MAIN(tst_BidWindow)
#include "tst_bidwindow.moc"
