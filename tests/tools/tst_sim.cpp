#include "simscenario.h"
#include "tempdir.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

// The simulated site and the probe as a user runs them: two executables, the scenario
// from docs/, the probe reaching the site through http_proxy.
class tst_Sim : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_sim.setProgram(QStringLiteral(SIM_BIN));
        m_sim.setArguments({u"--listen"_s, u"127.0.0.1:0"_s, u"--scenario"_s,
                            QStringLiteral(SCENARIO_FILE), u"--log"_s,
                            m_home.path(u"requests.jsonl"_s)});
        m_sim.start();
        QVERIFY(m_sim.waitForReadyRead(10000));
        const QString line = QString::fromLatin1(m_sim.readLine());
        const QRegularExpressionMatch m = QRegularExpression(u":(\\d+)"_s).match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        m_proxy = u"http://127.0.0.1:"_s + m.captured(1);
    }

    void cleanupTestCase()
    {
        m_sim.terminate();
        m_sim.waitForFinished(5000);
    }

    void probeReadsWhatTheScenarioSays_data();
    void probeReadsWhatTheScenarioSays()
    {
        QFETCH(QString, url);
        QFETCH(QString, expected);
        int rc = -1;
        const QJsonObject got = runProbe(url, &rc);
        QCOMPARE(rc, 0);
        const QJsonObject want = QJsonDocument::fromJson(expected.toUtf8()).object();
        QVERIFY(!want.isEmpty());
        for (auto it = want.begin(); it != want.end(); ++it)
            QVERIFY2(got.value(it.key()) == it.value(), qPrintable(it.key()));
        QVERIFY(QDateTime::fromString(got.value(u"enddate"_s).toString(),
                                      u"yyyy-MM-dd HH:mm:ss"_s) > QDateTime::currentDateTime());
    }

    void probeFailsOnPagesThatAreNotItemPages()
    {
        // An unknown item, then a server error.
        const QList<std::pair<QString, int>> cases{
            {u"http://page3.auctions.yahoo.co.jp/jp/auction/x999"_s, 1},
            {u"http://page9.auctions.yahoo.co.jp/jp/auction/x100000001"_s, 3}};
        for (const auto &[url, exitCode] : cases) {
            int rc = -1;
            runProbe(url, &rc);
            QCOMPARE(rc, exitCode);
        }
    }

    void requestLogMasksPasswords()
    {
        // The password may go over plain http here only because the site is on loopback.
        QDir().mkpath(m_home.path(u"home"_s));
        QFile ini(m_home.path(u"home/snipewell.ini"_s));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Site]\nScheme=http\n");
        ini.close();
        int rc = -1;
        runProbe(QStringLiteral("http://page3.auctions.yahoo.co.jp/jp/show/"
                                "bid_preview?ItemID=x1&passwd=%41%42&Bid=1"),
                 &rc);
        QFile log(m_home.path(u"requests.jsonl"_s));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        bool seen = false;
        for (const QByteArray &l : lines) {
            const QJsonObject o = QJsonDocument::fromJson(l).object();
            if (o.value(u"path"_s).toString() != "/jp/show/bid_preview"_L1)
                continue;
            seen = true;
            QCOMPARE(o.value(u"query"_s).toString(), u"ItemID=x1&passwd=****&Bid=1"_s);
            QVERIFY(o.value(u"t"_s).toDouble() > 1.7e12);
            QCOMPARE(o.value(u"host"_s).toString(), u"page3.auctions.yahoo.co.jp"_s);
        }
        QVERIFY(seen);
    }

    void badScenariosAreRefused_data();
    void badScenariosAreRefused()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, mentions);
        QString error;
        QVERIFY(!sim::Scenario::fromJson(json, QDateTime::currentDateTime(), &error));
        QVERIFY2(error.contains(mentions), qPrintable(error));
    }

private:
    QJsonObject runProbe(const QString &url, int *exitCode)
    {
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"http_proxy"_s, m_proxy);
        env.insert(u"SNIPEWELL_HOME"_s, m_home.path(u"home"_s));
        probe.setProcessEnvironment(env);
        probe.start(QStringLiteral(PROBE_BIN), {url});
        if (!probe.waitForFinished(30000))
            return {};
        *exitCode = probe.exitCode();
        return QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
    }

    QProcess m_sim;
    TempHome m_home;
    QString m_proxy;
};

void tst_Sim::probeReadsWhatTheScenarioSays_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected"); // JSON subset
    QTest::newRow("bids, extension")
        << "http://page3.auctions.yahoo.co.jp/jp/auction/x100000001"
        << R"({"itemid":"x100000001","Serverid":"3","ItemYenNow":12500,"SaikougakuShaid":"rival_hanako",
              "ShuppinShaID":"toy_shop","ItemYenKibou":0,"NumUri":1,"NumNyuusatu":7,"ItemYenStart":1000,
              "ItemYenUnit":500,"Flagsaitei":false,"Flagjidouencho":true,"Fin":false,
              "Itemname":"ガンダム プラモデル 1/144 未組立"})";
    QTest::newRow("no bids, buy-it-now, no extension")
        << "http://page12.auctions.yahoo.co.jp/jp/auction/x100000002"
        << R"({"itemid":"x100000002","Serverid":"12","ItemYenNow":500,"SaikougakuShaid":"-","ItemYenKibou":3000,
              "NumUri":2,"NumNyuusatu":0,"Flagjidouencho":false,"Flagsaitei":false})";
    QTest::newRow("reserve")
        << "http://page5.auctions.yahoo.co.jp/jp/auction/x100000003"
        << R"({"ItemYenNow":4200,"SaikougakuShaid":"snipe_taro","Flagsaitei":true})";
}

void tst_Sim::badScenariosAreRefused_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("not JSON") << QByteArray("{items: [") << "JSON";
    QTest::newRow("item without end") << QByteArray(R"({"items":[{"id":"x1"}]})") << "endsIn";
    QTest::newRow("unknown fault") << QByteArray(R"({"faults":[{"kind":"flood"}]})") << "flood";
}

QTEST_GUILESS_MAIN(tst_Sim)
#include "tst_sim.moc"
