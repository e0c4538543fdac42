// When do bids reach the site when many bid windows bid in the same second?
//
// For N = 1, 10 and 50 armed bid windows whose bid times fall in the same second, run
// against the simulated site (in this process, on its own thread), and read from the
// site's request log when each confirmation arrived, by the site's own clock. Runs also
// with a second of latency each way, and with the site's clock 3 s ahead of this machine's
// (the machine 3 s slow) and 3 s behind (3 s fast). Prints one line per run:
//   N=<n> [load=refresh] [latency_ms=<l>] [machine_clock=<+-s>] missed=<m>
//       p50_ms=<x> p99_ms=<x> min_ms=<x> max_ms=<x>
// times relative to the site's bid time (end - Befsec); negative is early.
#include "activitylog.h"
#include "appvalues.h"
#include "armedbid.h"
#include "bidhost.h"
#include "bidwindows.h"
#include "categories.h"
#include "cookiejar.h"
#include "credentials.h"
#include "database.h"
#include "frmsw.h"
#include "itemparser.h"
#include "prompter.h"
#include "settingsstore.h"
#include "simsettings.h"
#include "simsite.h"
#include "siteclock.h"
#include "sitehosts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace sw;

namespace {

class SilentPrompter : public Prompter
{
public:
    void message(const QString &) override {}
    std::optional<QString> input(const QString &, const QString &) override { return std::nullopt; }
    bool question(const QString &, bool) override { return false; }
    int choose(const QString &, const QStringList &, int, int escape) override { return escape; }
    void beep() override {}
};

void waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
}

struct Figures
{
    int missed = 0;
    double p50 = 0, p99 = 0, min = 0, max = 0;
};

struct Conditions
{
    int n = 1;
    bool withLoad = false;
    int oneWayMs = 0;    // every request, both ways
    int siteAheadMs = 0; // the site's clock against this machine's
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t rank = std::size_t(std::ceil(p * double(v.size()))) - 1;
    return v[std::min(rank, v.size() - 1)];
}

Figures run(const Conditions &c)
{
    const int n = c.n;
    const bool withLoad = c.withLoad;
    siteClock().reset();
    QTemporaryDir home;
    sim::Scenario s;
    s.clockOffsetMs = c.siteAheadMs;
    // Whole seconds of the site's clock; a slow site needs a little longer to be known.
    const qint64 siteNow = s.now().toMSecsSinceEpoch();
    const QDateTime end = QDateTime::fromMSecsSinceEpoch(
        (siteNow / 1000 + (c.oneWayMs > 0 ? 30 : 12)) * 1000, sim::japanTime());
    const int befSec = 5;
    const int loadWindows = withLoad ? 20 : 0;

    s.showSeconds = true; // these auctions end at any second
    if (c.oneWayMs > 0) {
        sim::Fault f;
        f.inMs = f.ms = c.oneWayMs;
        s.faults << f;
    }
    s.bidders << sim::Bidder{QStringLiteral("snipe_taro"), QStringLiteral("taro1234"), {}};
    for (int i = 0; i < n + loadWindows; ++i) {
        sim::Item it;
        it.id = QStringLiteral("b") + QString::number(i);
        it.server = 1 + i % 5;
        it.title = it.id;
        it.startPrice = 1000;
        it.price = 1000;
        it.autoExtend = false;
        it.end = i < n ? end : end.addSecs(1800); // the load windows end later
        s.items << it;
    }
    QThread siteThread;
    auto *site = new sim::SimSite(s);
    site->moveToThread(&siteThread);
    siteThread.start();
    quint16 port = 0;
    QMetaObject::invokeMethod(
        site, [&] { port = site->listenOn(); }, Qt::BlockingQueuedConnection);
    if (withLoad) {
        // Item pages answer slowly, so refreshes are in flight while the bids go out.
        QMetaObject::invokeMethod(
            site,
            [site] {
                sim::Fault f;
                f.kind = sim::Fault::Latency;
                f.ms = 150;
                f.path = QStringLiteral("/jp/auction/*");
                site->addFault(f);
            },
            Qt::BlockingQueuedConnection);
    }

    SettingsStore settings(home.filePath(QStringLiteral("snipewell.ini")));
    reachSimulatedSite(settings, port);
    AppValues values;
    values.ownId = QStringLiteral("snipe_taro");
    values.password = QStringLiteral("taro1234");
    values.encodedPassword = encodePassword(values.password);
    values.befSec = befSec;
    ItemDatabase db(home.filePath(QStringLiteral("db2k.mdb")));
    db.open();
    db.createSchema();
    ActivityLog log(db);
    SilentPrompter prompter;
    CategoryNames categories(settings);
    SiteHosts hosts;
    hosts.scheme = QStringLiteral("http"); // the simulated site, through a proxy on loopback
    PersistentCookieJar cookies(home.filePath(QStringLiteral("cookies.txt")));
    ItemPageParser parser(db);
    AppContext ctx{settings, values, db, log, prompter, categories, hosts, cookies, parser};
    BidHost host(ctx);
    BidWindows windows(ctx, host, nullptr, nullptr);

    QList<frmSw *> open;
    for (const sim::Item &it : s.items) {
        ItemRecord r;
        r.itemid = it.id;
        r.Itemname = it.title;
        r.Serverid = QString::number(it.server);
        r.ItemYenNow = it.price;
        r.SaikougakuShaid = QStringLiteral("-");
        r.enddate = it.end;
        r.NumUri = 1;
        r.ItemYenStart = it.startPrice;
        r.ItemYenUnit = it.unit();
        db.upsertItem(r);
        const int id = db.itemByItemid(it.id)->id;
        db.saveUserColumns(id, 5000, QStringLiteral("0"), 1, 0);
        open << windows.open(id);
    }
    QTimer load;
    if (withLoad) {
        QObject::connect(&load, &QTimer::timeout, [&open, n] {
            for (int i = n; i < open.size(); ++i)
                open[i]->bid()->refresh(false);
        });
        load.start(100);
    }

    const QDateTime bidTime = end.addSecs(-befSec);
    auto confirmations = [site] {
        QList<sim::RequestRecord> out;
        QMetaObject::invokeMethod(
            site, [&] { out = site->requestsTo(QStringLiteral("/jp/config/placebid")); },
            Qt::BlockingQueuedConnection);
        return out;
    };
    waitUntil(
        [&] {
            return siteClock().nowMs() > bidTime.addSecs(3 + c.oneWayMs / 500).toMSecsSinceEpoch();
        },
        60000);
    load.stop();
    const QList<sim::RequestRecord> got = confirmations();

    Figures f;
    std::vector<double> late;
    QSet<QString> bidOn;
    for (const sim::RequestRecord &r : got) {
        const QString item = QUrlQuery(r.query).queryItemValue(QStringLiteral("ItemID"));
        if (bidOn.contains(item))
            continue;
        bidOn.insert(item);
        late.push_back(double(r.atMs - bidTime.toMSecsSinceEpoch()));
    }
    f.missed = n - int(bidOn.size());
    f.p50 = percentile(late, 0.50);
    f.p99 = percentile(late, 0.99);
    f.min = late.empty() ? 0 : *std::min_element(late.begin(), late.end());
    f.max = late.empty() ? 0 : *std::max_element(late.begin(), late.end());

    for (frmSw *w : open)
        delete w;
    QMetaObject::invokeMethod(
        site, [site] { delete site; }, Qt::BlockingQueuedConnection);
    siteThread.quit();
    siteThread.wait();
    return f;
}

void print(const Conditions &c, const Figures &f)
{
    QString conditions;
    if (c.withLoad)
        conditions += QStringLiteral(" load=refresh");
    if (c.oneWayMs)
        conditions += QStringLiteral(" latency_ms=") + QString::number(c.oneWayMs);
    if (c.siteAheadMs)
        conditions += QStringLiteral(" machine_clock=%1%2s")
                          .arg(c.siteAheadMs > 0 ? QStringLiteral("-") : QStringLiteral("+"))
                          .arg(std::abs(c.siteAheadMs) / 1000);
    std::printf("N=%d%s missed=%d p50_ms=%.0f p99_ms=%.0f min_ms=%.0f max_ms=%.0f\n", c.n,
                qPrintable(conditions), f.missed, f.p50, f.p99, f.min, f.max);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QList<Conditions> runs = {
        {1, false, 0, 0},     {10, false, 0, 0},     {50, true, 0, 0},  {50, false, 1000, 0},
        {50, false, 0, 3000}, {50, false, 0, -3000}, {50, false, 0, 0},
    };
    for (const Conditions &c : runs)
        print(c, run(c));
    return 0;
}
