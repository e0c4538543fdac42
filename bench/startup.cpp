// Start-up time and memory of the whole program, with the built-in browser never opened.
//
// Starts the real `snipewell` (offscreen) on a fresh data folder holding 20 items whose bids
// are due within the next hours, with every site request sent to a closed local port (no
// site traffic). Prints, per run: milliseconds from the process start until the main window
// is loaded and idle, and the resident (RSS) and proportional (PSS: shared pages split among
// the processes sharing them) memory of the program and of any helper processes (the browser
// engine's, should it start) right after start and once the scheduler has opened the 20 bid
// windows. The aim: at most 100 MiB proportional in all.
#include "database.h"
#include "settingsstore.h"
#include "startupdb.h"

#include "procstats.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

using namespace sw;
using namespace bench;

namespace {

bool seed(const QString &dataDir, int items)
{
    const AppPaths paths{dataDir, dataDir + QStringLiteral("/snipewell.ini")};
    if (!createDataFolderIfNew(paths).ok())
        return false;
    ItemDatabase db(paths.database());
    if (!db.open())
        return false;
    const QDateTime now = QDateTime::currentDateTime();
    for (int n = 1; n <= items; ++n) {
        ItemRecord r;
        r.itemid = QStringLiteral("m") + QString::number(n);
        r.Itemname = QStringLiteral("計測用の商品 ") + QString::number(n);
        r.Serverid = QStringLiteral("3");
        r.ItemYenNow = 1000;
        r.enddate = now.addSecs(3600 + 60 * n);
        r.NumUri = 1;
        r.ItemYenStart = 1000;
        r.ItemYenUnit = 100;
        if (db.upsertItem(r) != ItemDatabase::Upsert::Inserted)
            return false;
        if (!db.saveUserColumns(db.itemByItemid(r.itemid)->id, 5000, QStringLiteral("0"), 1, 0))
            return false;
    }
    SettingsStore settings(paths.settingsFile);
    settings.save(QStringLiteral("Settings"), QStringLiteral("yuser"),
                  QStringLiteral("bench_user"));
    settings.save(QStringLiteral("Settings"), QStringLiteral("ypass"), QString());
    // Nothing listens there: every page request fails at once.
    settings.save(QStringLiteral("Settings"), QStringLiteral("Proxy"),
                  QStringLiteral("HTTP=127.0.0.1:9"));
    settings.save(QStringLiteral("Settings"), QStringLiteral("FetchTimeout"), QStringLiteral("2"));
    return true;
}

struct Figures
{
    qint64 readyMs = -1;
    qint64 rssStart = 0, helpersStart = 0, pssStart = 0, helpersPssStart = 0;
    qint64 rss20 = 0, helpers20 = 0, pss20 = 0, helpersPss20 = 0;
    int helperCount = 0;
    qint64 peak = 0; // the program's peak resident memory
    int windows = 0; // bid windows the scheduler opened ("入札準備開始" lines)
};

qint64 helpersRss(qint64 pid)
{
    qint64 sum = 0;
    for (qint64 child : descendants(pid))
        sum += rssKiB(child);
    return sum;
}

qint64 helpersPss(qint64 pid)
{
    qint64 sum = 0;
    for (qint64 child : descendants(pid))
        sum += pssKiB(child);
    return sum;
}

Figures runOnce(const QString &program)
{
    Figures f;
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    if (!seed(data, 20))
        return f;
    const QString ready = dir.filePath(QStringLiteral("ready"));
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SNIPEWELL_HOME"), data);
    env.insert(QStringLiteral("SNIPEWELL_READY_FILE"), ready);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("http_proxy"), QStringLiteral("http://127.0.0.1:9"));
    app.setProcessEnvironment(env);
    app.setStandardErrorFile(QProcess::nullDevice());
    app.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    app.start(program);
    if (!app.waitForStarted())
        return f;
    while (!QFile::exists(ready) && clock.elapsed() < 60000 && app.state() == QProcess::Running)
        QThread::msleep(2);
    if (!QFile::exists(ready))
        return f;
    f.readyMs = clock.elapsed();
    QThread::msleep(500); // the first page request has failed by now
    f.rssStart = rssKiB(app.processId());
    f.helpersStart = helpersRss(app.processId());
    f.pssStart = pssKiB(app.processId());
    f.helpersPssStart = helpersPss(app.processId());
    // The scheduler ticks every 3 seconds and opens every window due within 600 minutes.
    QThread::msleep(8000);
    f.rss20 = rssKiB(app.processId());
    f.helpers20 = helpersRss(app.processId());
    f.pss20 = pssKiB(app.processId());
    f.helpersPss20 = helpersPss(app.processId());
    f.helperCount = int(descendants(app.processId()).size());
    f.peak = statusKiB(app.processId(), "VmHWM:");
    app.terminate();
    app.waitForFinished(10000);
    ItemDatabase db(data + QStringLiteral("/db2k.mdb"));
    if (db.open()) {
        for (const LogEntry &e : db.logEntries().value_or(QList<LogEntry>{}))
            f.windows += e.Memo.startsWith(QStringLiteral("入札準備開始")) ? 1 : 0;
    }
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString program =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(SNIPEWELL_BIN);
    const int runs = argc > 2 ? QByteArray(argv[2]).toInt() : 3;
    for (int i = 0; i < runs; ++i) {
        const Figures f = runOnce(program);
        if (f.readyMs < 0) {
            std::printf("run %d: the program did not come up\n", i + 1);
            return 1;
        }
        std::printf("run %d: ready_ms=%lld start: rss_mib=%.1f pss_mib=%.1f helpers_rss_mib=%.1f "
                    "helpers_pss_mib=%.1f | windows=%d: rss_mib=%.1f pss_mib=%.1f "
                    "helpers=%d helpers_rss_mib=%.1f helpers_pss_mib=%.1f total_pss_mib=%.1f "
                    "peak_rss_mib=%.1f\n",
                    i + 1, f.readyMs, f.rssStart / 1024.0, f.pssStart / 1024.0,
                    f.helpersStart / 1024.0, f.helpersPssStart / 1024.0, f.windows,
                    f.rss20 / 1024.0, f.pss20 / 1024.0, f.helperCount, f.helpers20 / 1024.0,
                    f.helpersPss20 / 1024.0, (f.pss20 + f.helpersPss20) / 1024.0, f.peak / 1024.0);
    }
    return 0;
}
