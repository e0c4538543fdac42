// What the always-on service costs and how its bids arrive.
//
// Starts the real `snipewell-service` on fresh data folders against the simulated site (in
// this process, on loopback) and prints:
//  - its resident memory idle (no item) and with 100 armed items, 20 s after the start;
//  - the bid timing through the service: N items whose bids fall in the same second, and
//    when each confirmation reached the site against the site's bid time (p50, p99, min,
//    max in ms; negative is early), and how many were missed.
//  - a thousand items added, read and deleted through the API, one by one: the threads and
//    memory idle, with the thousand, and a minute after the last delete.
// Targets: at most 40 MiB with 100 armed items; p99 within -300…+100 ms, none missed;
// threads back to idle after the thousand.
#include "credentials.h"
#include "database.h"
#include "settingsstore.h"
#include "simsettings.h"
#include "simsite.h"
#include "startupdb.h"

#include "procstats.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace sw;

namespace {

qint64 statusField(qint64 pid, const QByteArray &field)
{
    return bench::statusKiB(pid, QByteArray(field + ':'));
}

void spin(qint64 ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

sim::Item simItem(int n, const QDateTime &end)
{
    sim::Item it;
    it.id = QStringLiteral("s") + QString::number(n);
    it.server = 1 + n % 20;
    it.title = QStringLiteral("計測用の商品 ") + QString::number(n);
    it.price = 1000;
    it.bids = 1;
    it.highBidder = QStringLiteral("rival");
    it.maxBids.insert(it.highBidder, 1000);
    it.end = end;
    it.autoExtend = false;
    return it;
}

// A data folder whose items are the site's, armed with 5,000円 each.
bool seed(const QString &dataDir, const sim::Scenario &s, quint16 sitePort, int befSec)
{
    const AppPaths paths{dataDir, dataDir + QStringLiteral("/snipewell.ini")};
    if (!createDataFolderIfNew(paths).ok())
        return false;
    ItemDatabase db(paths.database());
    if (!db.open())
        return false;
    for (const sim::Item &it : s.items) {
        ItemRecord r;
        r.itemid = it.id;
        r.Itemname = it.title;
        r.Serverid = QString::number(it.server);
        r.ItemYenNow = it.price;
        r.SaikougakuShaid = it.highBidder;
        r.enddate = it.end;
        r.NumUri = 1;
        r.NumNyuusatu = it.bids;
        r.ItemYenUnit = 100;
        if (db.upsertItem(r) != ItemDatabase::Upsert::Inserted ||
            !db.saveUserColumns(db.itemByItemid(r.itemid)->id, 5000, QStringLiteral("0"), 1, 0))
            return false;
    }
    SettingsStore settings(paths.settingsFile);
    settings.save(QStringLiteral("Settings"), QStringLiteral("yuser"),
                  QStringLiteral("snipe_taro"));
    settings.save(QStringLiteral("Settings"), QStringLiteral("ypass"),
                  Scramble(QStringLiteral("taro1234")));
    settings.save(QStringLiteral("Settings"), QStringLiteral("Keyring"), QStringLiteral("0"));
    settings.save(QStringLiteral("Settings"), QStringLiteral("BefSec"), QString::number(befSec));
    reachSimulatedSite(settings, sitePort);
    settings.save(QStringLiteral("Service"), QStringLiteral("Listen"),
                  QStringLiteral("127.0.0.1:") + QString::number(freePort()));
    return true;
}

sim::Scenario scenario(int n, const QDateTime &end)
{
    sim::Scenario s;
    s.showSeconds = true;
    s.bidders << sim::Bidder{QStringLiteral("snipe_taro"), QStringLiteral("taro1234"), {}}
              << sim::Bidder{QStringLiteral("rival"), QStringLiteral("r"), {}};
    for (int i = 1; i <= n; ++i)
        s.items << simItem(i, end.isValid() ? end
                                            : QDateTime::currentDateTime().addSecs(3600 + 60 * i));
    return s;
}

std::unique_ptr<QProcess> start(const QString &program, const QString &data)
{
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SNIPEWELL_HOME"), data);
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    p->setStandardErrorFile(QProcess::nullDevice());
    p->start(program);
    p->waitForStarted();
    return p;
}

void stop(QProcess &p)
{
    p.terminate();
    p.waitForFinished(10000);
}

qint64 memoryWith(const QString &program, int items)
{
    sim::SimSite site(scenario(items, {}));
    site.listenOn();
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    if (!seed(data, site.scenario(), site.port(), 30))
        return -1;
    auto p = start(program, data);
    spin(20000);
    const qint64 kib = bench::rssKiB(p->processId());
    stop(*p);
    return kib;
}

void timing(const QString &program, int n)
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch() + 45000;
    const QDateTime end = QDateTime::fromMSecsSinceEpoch(ms / 1000 * 1000);
    constexpr int kBefSec = 10;
    sim::SimSite site(scenario(n, end));
    site.listenOn();
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    if (!seed(data, site.scenario(), site.port(), kBefSec))
        return;
    auto p = start(program, data);
    const qint64 bidMs = end.addSecs(-kBefSec).toMSecsSinceEpoch();
    while (QDateTime::currentMSecsSinceEpoch() < bidMs + 5000)
        spin(100);
    QList<qint64> late;
    QSet<QString> seen;
    for (const sim::RequestRecord &r : site.requestsTo(QStringLiteral("/jp/config/placebid"))) {
        if (!seen.contains(r.item)) {
            seen.insert(r.item);
            late << r.atMs - bidMs;
        }
    }
    stop(*p);
    std::sort(late.begin(), late.end());
    auto at = [&late](double q) {
        return late.isEmpty() ? 0 : late[qMin(qsizetype(q * late.size()), late.size() - 1)];
    };
    std::printf("timing N=%d missed=%lld p50_ms=%lld p99_ms=%lld min_ms=%lld max_ms=%lld\n", n,
                qint64(n - late.size()), at(0.5), at(0.99), late.isEmpty() ? 0 : late.first(),
                late.isEmpty() ? 0 : late.last());
}

// One request to the service; its status (0 when nothing came back).
int request(QNetworkAccessManager &nam, const QString &base, const QString &token,
            const QByteArray &method, const QString &path, const QByteArray &body = {})
{
    QNetworkRequest r(QUrl(base + path));
    r.setRawHeader("Authorization", "Bearer " + token.toLatin1());
    if (!body.isEmpty())
        r.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply *reply = nam.sendCustomRequest(r, method, body);
    QElapsedTimer t;
    t.start();
    while (!reply->isFinished() && t.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    reply->deleteLater();
    return status;
}

void churn(const QString &program, int n)
{
    sim::Scenario sc = scenario(n, {});
    sim::SimSite site(sc);
    site.listenOn();
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    sim::Scenario none = sc;
    none.items.clear();
    if (!seed(data, none, site.port(), 30))
        return;
    SettingsStore settings(data + QStringLiteral("/snipewell.ini"));
    const QString base =
        QStringLiteral("http://") +
        settings.get(QStringLiteral("Service"), QStringLiteral("Listen"), QString());
    auto p = start(program, data);
    spin(8000);
    QFile tokenFile(data + QStringLiteral("/service.token"));
    tokenFile.open(QIODevice::ReadOnly);
    const QString token = QString::fromLatin1(tokenFile.readAll()).trimmed();
    const qint64 pid = p->processId();
    QNetworkAccessManager warm;
    warm.setProxy(QNetworkProxy::NoProxy);
    // One item in and out first: what the process makes once (its network thread, say) is
    // part of its idle state, not of the thousand.
    request(warm, base, token, "POST", QStringLiteral("/api/items"),
            R"({"item": ")" + sc.items.first().id.toLatin1() + R"(", "max": 5000})");
    request(warm, base, token, "DELETE", QStringLiteral("/api/items/") + sc.items.first().id);
    spin(5000);
    const qint64 idleThreads = statusField(pid, "Threads"), idleKib = bench::rssKiB(pid);
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    int failed = 0;
    for (const sim::Item &it : sc.items) {
        if (request(nam, base, token, "POST", QStringLiteral("/api/items"),
                    R"({"item": ")" + it.id.toLatin1() + R"(", "max": 5000})") != 201)
            ++failed;
    }
    spin(5000); // the scheduler takes them up
    for (const sim::Item &it : sc.items)
        failed += request(nam, base, token, "GET", QStringLiteral("/api/items/") + it.id) != 200;
    const qint64 fullThreads = statusField(pid, "Threads"), fullKib = bench::rssKiB(pid);
    for (const sim::Item &it : sc.items)
        failed += request(nam, base, token, "DELETE", QStringLiteral("/api/items/") + it.id) != 200;
    spin(60000);
    std::printf("churn N=%d failed=%d threads idle=%lld with_items=%lld after=%lld "
                "rss_kib idle=%lld with_items=%lld after=%lld\n",
                n, failed, idleThreads, fullThreads, statusField(pid, "Threads"), idleKib, fullKib,
                bench::rssKiB(pid));
    stop(*p);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString program = QStringLiteral(SERVICE_BIN);
    // "churn" alone runs only the thousand items.
    const bool onlyChurn = app.arguments().contains(QStringLiteral("churn"));
    if (!onlyChurn) {
        std::printf("memory idle_kib=%lld\n", memoryWith(program, 0));
        std::printf("memory armed=100 kib=%lld\n", memoryWith(program, 100));
        timing(program, 50);
    }
    churn(program, 1000);
    return 0;
}
