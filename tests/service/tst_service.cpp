#include "handover.h"
#include "noticesender.h"
#include "servicefixture.h"

#include <QTcpServer>

using namespace Qt::StringLiterals;
using namespace sw;

// The service's API and its page's session, against the simulated site: what a phone or a
// script sees, and what every forged or absurd request gets.
class tst_Service : public QObject
{
    Q_OBJECT
private slots:
    void addChangeBidAndDelete();
    void everyRequestIsGuarded_data();
    void everyRequestIsGuarded()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(QString, auth);
        QFETCH(QByteArray, host);
        QFETCH(int, status);
        Service f(scenarioWith(item(wholeSecond(3600 * 1000))));
        QList<std::pair<QByteArray, QByteArray>> headers;
        if (auth == "token"_L1)
            headers << std::pair{QByteArray("Authorization"), "Bearer " + kToken.toLatin1()};
        else if (auth == "wrong"_L1)
            headers << std::pair{QByteArray("Authorization"), QByteArray("Bearer 0000")};
        else if (auth == "page"_L1)
            QCOMPARE(f.call("GET", u"/?token="_s + kToken, {}, {}).status, 303);
        if (!host.isEmpty())
            headers << std::pair{QByteArray("Host"), host};
        const Answer a = f.call(method, path, body, headers);
        QCOMPARE(a.status, status);
        QVERIFY2(!a.object().value(u"error"_s).toString().isEmpty(), a.body.constData());
        QCOMPARE(f.storedItems(), 0); // nothing stored
        QVERIFY(!a.body.contains(kToken.toLatin1()));
    }

    void wrongTokensAreSlowedDown()
    {
        Service f(scenarioWith(item(wholeSecond(3600 * 1000))));
        // A page left open across a restart polls with a dead session: no guess, no wait.
        for (int i = 0; i < 3 * ServiceGate::kFreeTries; ++i) {
            QCOMPARE(f.call("GET", u"/api/items"_s, {}, {}).status, 401);
            QCOMPARE(f.call("GET", u"/api/items"_s, {},
                            {{"Cookie", "sw_session=from-before-the-restart"}})
                         .status,
                     401);
        }
        const QList<std::pair<QByteArray, QByteArray>> wrong{{"Authorization", "Bearer nope"}};
        for (int i = 0; i < ServiceGate::kFreeTries + 1; ++i)
            QCOMPARE(f.call("GET", u"/api/items"_s, {}, wrong).status, 401);
        // The guesser waits; the right token does not.
        const Answer a = f.call("GET", u"/api/items"_s, {}, wrong);
        QCOMPARE(a.status, 429);
        QVERIFY(!header(a, "Retry-After").isEmpty());
        QCOMPARE(f.call("GET", u"/api/items"_s).status, 200);
        QVERIFY2(f.logText().contains(u"アクセストークンの間違いが続いています（127.0.0.1）"_s),
                 qPrintable(f.logText()));
        QTRY_COMPARE_WITH_TIMEOUT(f.call("GET", u"/api/items"_s, {}, wrong).status, 401, 3000);
    }

    void refusedBeforeTheBody_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("status");
        const QByteArray auth = "Authorization: Bearer " + kToken.toLatin1() + "\r\n";
        QTest::newRow("200 MB announced") << "POST /api/items HTTP/1.1\r\nHost: HOST\r\n" + auth +
                                                 "Content-Length: 209715200\r\n\r\n"
                                          << QByteArray("413");
        QTest::newRow("without a token too")
            << QByteArray("POST /api/items HTTP/1.1\r\nHost: HOST\r\n"
                          "Content-Length: 209715200\r\n\r\n")
            << QByteArray("413");
        QTest::newRow("another name") << "POST /api/items HTTP/1.1\r\nHost: evil.example\r\n" +
                                             auth + "Content-Length: 20\r\n\r\n"
                                      << QByteArray("421");
        QTest::newRow("no length, chunks") << "POST /api/items HTTP/1.1\r\nHost: HOST\r\n" + auth +
                                                  "Transfer-Encoding: chunked\r\n\r\n"
                                           << QByteArray("411");
        QTest::newRow("endless headers")
            << "GET / HTTP/1.1\r\nHost: HOST\r\nX-Pad: " + QByteArray(40 * 1024, 'a')
            << QByteArray("431");
    }

    void refusedBeforeTheBody()
    {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, status);
        Service f(scenarioWith(item(wholeSecond(3600 * 1000))));
        head.replace("HOST", QByteArray(QByteArray("127.0.0.1:") + QByteArray::number(f.port)));
        // Only the head is sent: the answer comes without the body ever being read.
        const QByteArray got = rawAnswer(f.port, head);
        QVERIFY2(got.startsWith(QByteArray(QByteArray("HTTP/1.1 ") + status)),
                 got.left(200).constData());
        QVERIFY(got.contains("\"error\""));
        QCOMPARE(f.storedItems(), 0);
    }

    void connectionsAreCappedAndTimed()
    {
        ConnectionLimits limits;
        limits.maxConnections = 3;
        limits.headMs = 700;
        Service f(scenarioWith(item(wholeSecond(3600 * 1000))), limits);
        // Half-sent requests hold every place...
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int i = 0; i < limits.maxConnections; ++i) {
            slow.push_back(std::make_unique<QTcpSocket>());
            slow.back()->connectToHost(QHostAddress::LocalHost, f.port);
            QVERIFY(slow.back()->waitForConnected(3000));
            slow.back()->write("GET /api/items HTTP/1.1\r\nHost: 127.0.0.1\r\n");
        }
        QTRY_COMPARE(f.api.guard()->openConnections(), limits.maxConnections);
        QVERIFY(
            rawAnswer(f.port, "GET /api/items HTTP/1.1\r\n\r\n", 1000).startsWith("HTTP/1.1 503"));
        // ...only until their headers are late; then the service answers again.
        for (auto &s : slow)
            QTRY_COMPARE_WITH_TIMEOUT(s->state(), QAbstractSocket::UnconnectedState, 5000);
        QCOMPARE(f.call("GET", u"/api/items"_s).status, 200);
    }

    void thePageKeepsASessionNotTheToken();
    void listenAddresses()
    {
        // The address, whether it is taken, and whether it stays on this machine.
        const QList<std::tuple<QString, bool, bool>> cases{
            {u"127.0.0.1:8750"_s, true, true},    {u"localhost:9000"_s, true, true},
            {u"[::1]:8750"_s, true, true},        {u"192.168.1.20:8750"_s, true, false},
            {u"0.0.0.0:8750"_s, true, false},     {u"127.0.0.1"_s, false, false},
            {u"127.0.0.1:70000"_s, false, false}, {u"myserver.lan:8750"_s, false, false}};
        for (const auto &[value, ok, loopback] : cases) {
            QString why;
            const std::optional<ListenAddress> a = parseListen(value, &why);
            QCOMPARE(a.has_value(), ok);
            QCOMPARE(why.isEmpty(), ok);
            QCOMPARE(a && a->loopback(), loopback);
        }
    }

    void theDesktopHandsAnItemOver()
    {
        const QDateTime end = wholeSecond(3600 * 1000);
        Service service(scenarioWith(item(end)));
        // The desktop program, with the item armed there and the service named in its settings.
        TestApp desktop;
        BidHost host(desktop.ctx);
        const int id = storeAsRead(desktop.db, item(end), 7000, 1, 0, u"3"_s);
        std::optional<HandOverResult> result;
        const QString page = desktop.hosts.itemPage(u"3"_s, u"x1"_s);
        auto handOver = [&](int timeoutMs) {
            result.reset();
            handOverItem(host, id, page, timeoutMs).then([&result](HandOverResult h) {
                result = h;
            });
            QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000);
        };
        handOver(20000); // not named yet: nothing left, the bid stays here
        QVERIFY(!result->ok);
        QVERIFY2(result->message.contains(u"[Handover]"_s), qPrintable(result->message));
        QCOMPARE(desktop.db.itemById(id)->Numkai, 1);
        // A service that takes the request and never answers: the item is not armed in both.
        QTcpServer mute;
        QVERIFY(mute.listen(QHostAddress::LocalHost));
        desktop.settings.save(u"Handover"_s, u"Url"_s,
                              u"http://127.0.0.1:"_s + QString::number(mute.serverPort()));
        desktop.settings.save(u"Handover"_s, u"Token"_s, kToken);
        handOver(1000);
        QVERIFY(!result->ok && result->unknown);
        QVERIFY2(result->message.contains(u"確かめて"_s), qPrintable(result->message));
        QCOMPARE(desktop.db.itemById(id)->Numkai, 0);
        QString error;
        QVERIFY2(host.saveLimits(id, BidLimits{7000, 1, u"3"_s, 0}, &error), qPrintable(error));
        desktop.settings.save(u"Handover"_s, u"Url"_s, service.base());
        handOver(20000);
        QVERIFY2(result->ok, qPrintable(result->message));
        // On the service: armed with the desktop's limits.
        const std::optional<ItemRecord> there = service.db.itemByItemid(u"x1"_s);
        QVERIFY(there);
        QCOMPARE(there->ItemYen, 7000);
        QCOMPARE(there->Numkai, 1);
        QCOMPARE(there->cat, u"3"_s);
        // Here: never armed again, even by a 保存.
        QCOMPARE(desktop.db.itemById(id)->Numkai, 0);
        QVERIFY(!host.saveLimits(id, BidLimits{7000, 1, u"3"_s, 0}, &error));
        QVERIFY2(error.contains(u"入札サービスに任せています"_s), qPrintable(error));
        host.tick();
        QVERIFY(!host.bids().find(id) || !host.bids().find(id)->armed());
        // Once over, the desktop shows the service's verdict, not one of its own.
        QVERIFY(service.db.setVerdict(there->id, u"落札しました：7,000円"_s));
        QVERIFY(desktop.db.saveRefresh(id, 7000, u"snipe_taro"_s, 3, 0, true,
                                       QDateTime::currentDateTime().addSecs(-5)));
        ServiceVerdicts verdicts(host);
        bool done = false;
        verdicts.check().then([&done] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
        QCOMPARE(desktop.db.itemById(id)->Verdict, u"落札しました：7,000円"_s);
    }

    void noticesGoOnlyToASafeAddress_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("posted");
        QTest::addColumn<QString>("logged"); // the log line's end, never the whole address
        QTest::newRow("plain http elsewhere")
            << "http://push.example/topic-SECRET" << false << "http://push.example/…";
        QTest::newRow("not an address")
            << "ht tp://::SECRET" << false << "（アドレスとして読めません）";
        QTest::newRow("this machine over http") << "LOCAL" << true << QString();
    }

    void noticesGoOnlyToASafeAddress()
    {
        QFETCH(QString, url);
        QFETCH(bool, posted);
        QFETCH(QString, logged);
        TestApp app;
        QTcpServer push; // takes the post and answers 200
        QVERIFY(push.listen(QHostAddress::LocalHost));
        connect(&push, &QTcpServer::newConnection, &push, [&push] {
            QTcpSocket *s = push.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [s] {
                s->readAll();
                s->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                s->disconnectFromHost();
            });
        });
        url.replace(u"LOCAL"_s, u"http://127.0.0.1:"_s + QString::number(push.serverPort()) +
                                    u"/topic-SECRET"_s);
        app.settings.save(u"Service"_s, u"NotifyUrl"_s, url);
        NoticeSender sender(app.settings, app.log, QDBusConnection(u"none"_s));
        sender.notify(NoticeKind::Won, u"x1 テスト商品\n落札しました"_s);
        bool sent = false; // every post finished (or refused), well before the latest moment
        sender.whenSent(60000, [&sent] { sent = true; });
        QTRY_VERIFY_WITH_TIMEOUT(sent, 5000);
        QCOMPARE(sender.posted(), posted ? 1 : 0);
        app.log.flush();
        const QString log = logLines(app.db).join(u'\n');
        QVERIFY2(!log.contains(u"SECRET"_s), qPrintable(log));
        if (!logged.isEmpty())
            QVERIFY2(log.contains(u"NotifyUrl が正しくない"_s) && log.endsWith(logged),
                     qPrintable(log));
    }
};

void tst_Service::addChangeBidAndDelete()
{
    const QDateTime end = wholeSecond(16000);
    Service f(scenarioWith(item(end)));
    f.host.start();
    // By its auction id alone, as a phone's user pastes it.
    Answer a = f.call("POST", u"/api/items"_s,
                      R"({"item": "x1", "max": 5000, "quantity": 1, "category": "2"})");
    QCOMPARE(a.status, 201);
    QJsonObject it = a.object();
    QCOMPARE(it.value(u"itemid"_s).toString(), u"x1"_s);
    QCOMPARE(it.value(u"max"_s).toDouble(), 5000.0);
    QCOMPARE(it.value(u"category"_s).toString(), u"2"_s);
    QVERIFY2(it.value(u"end"_s).toString().endsWith(u"+09:00"_s),
             qPrintable(it.value(u"end"_s).toString()));
    QCOMPARE(QDateTime::fromString(it.value(u"end"_s).toString(), Qt::ISODate), end);
    QCOMPARE(it.value(u"state"_s).toString(), u"planned"_s);

    // Typed on a Japanese keyboard.
    const QByteArray seen = it.value(u"version"_s).toString().toUtf8();
    a = f.call("PATCH", u"/api/items/x1"_s, R"({"max": "６，０００", "version": ")" + seen + "\"}");
    QCOMPARE(a.status, 200);
    QCOMPARE(a.object().value(u"max"_s).toDouble(), 6000.0);
    // A second phone that still shows 5000 does not overwrite it unseen, by change or by add.
    a = f.call("PATCH", u"/api/items/x1"_s, R"({"max": 5500, "version": ")" + seen + "\"}");
    QCOMPARE(a.status, 409);
    QVERIFY2(a.object().value(u"error"_s).toString().contains(u"6,000円"_s), a.body.constData());
    QCOMPARE(f.call("POST", u"/api/items"_s, R"({"item": "x1", "max": 5500})").status, 409);
    a = f.call("GET", u"/api/items"_s);
    QCOMPARE(a.status, 200);
    QCOMPARE(a.array().size(), 1);

    // The bid goes out at its time, with what the user last said.
    QTRY_VERIFY_WITH_TIMEOUT(!f.confirmations().isEmpty(), 20000);
    const qint64 late = f.confirmations().first().atMs - end.addSecs(-5).toMSecsSinceEpoch();
    QVERIFY2(late >= -300 && late <= 100, qPrintable(QString::number(late)));
    QCOMPARE(f.amountsSent(), QStringList{u"6000"_s});
    QTRY_VERIFY_WITH_TIMEOUT(
        f.call("GET", u"/api/items"_s).array().first().toObject().value(u"state"_s).toString() ==
            "won"_L1,
        15000);
    it = f.call("GET", u"/api/items"_s).array().first().toObject();
    QCOMPARE(it.value(u"verdict"_s).toString(), u"落札しました：3,100円"_s);

    a = f.call("GET", u"/api/items/x1/log"_s);
    QCOMPARE(a.status, 200);
    QStringList lines;
    for (const QJsonValue &v : a.array())
        lines << v.toObject().value(u"text"_s).toString();
    QVERIFY2(lines.contains(u"入札開始：x1：6000"_s), qPrintable(lines.join(u'\n')));
    a = f.call("GET", u"/api/status"_s);
    QCOMPARE(a.object().value(u"userId"_s).toString(), u"snipe_taro"_s);
    QVERIFY(!a.body.contains("taro1234")); // never the password

    QCOMPARE(f.call("DELETE", u"/api/items/x1"_s).status, 200);
    QCOMPARE(f.call("GET", u"/api/items/x1"_s).status, 404);
}

void tst_Service::everyRequestIsGuarded_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("auth"); // none, wrong, token, page (session without CSRF)
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<int>("status");
    const QByteArray good = R"({"item": "x1", "max": 5000})";
    QTest::newRow("no token") << QByteArray("GET") << "/api/items" << QByteArray() << "none"
                              << QByteArray() << 401;
    QTest::newRow("a wrong token")
        << QByteArray("POST") << "/api/items" << good << "wrong" << QByteArray() << 401;
    QTest::newRow("another site's page posts with the session")
        << QByteArray("POST") << "/api/items" << good << "page" << QByteArray() << 403;
    QTest::newRow("a name that points here but is not ours")
        << QByteArray("POST") << "/api/items" << good << "token"
        << QByteArray("attacker.example:80") << 421;
    QTest::newRow("not JSON") << QByteArray("POST") << "/api/items" << QByteArray("{max: 5000")
                              << "token" << QByteArray() << 400;
    QTest::newRow("a negative maximum")
        << QByteArray("POST") << "/api/items" << QByteArray(R"({"item": "x1", "max": -5000})")
        << "token" << QByteArray() << 400;
    QTest::newRow("a number beyond any integer")
        << QByteArray("POST") << "/api/items" << QByteArray(R"({"item": "x1", "max": 1e300})")
        << "token" << QByteArray() << 400;
    QTest::newRow("a trillion yen")
        << QByteArray("POST") << "/api/items"
        << QByteArray(R"({"item": "x1", "max": 1000000000000})") << "token" << QByteArray() << 400;
    QTest::newRow("a maximum that is no number")
        << QByteArray("POST") << "/api/items" << QByteArray(R"({"item": "x1", "max": "5千"})")
        << "token" << QByteArray() << 400;
    QTest::newRow("a thousand pieces")
        << QByteArray("POST") << "/api/items"
        << QByteArray(R"({"item": "x1", "max": 5000, "quantity": 1000})") << "token" << QByteArray()
        << 400;
    QTest::newRow("another site's address")
        << QByteArray("POST") << "/api/items"
        << QByteArray(R"({"item": "http://evil.example/jp/auction/x1", "max": 5000})") << "token"
        << QByteArray() << 400;
    QTest::newRow("far too much") << QByteArray("POST") << "/api/items"
                                  << QByteArray(100 * 1024, 'x') << "token" << QByteArray() << 413;
}

void tst_Service::thePageKeepsASessionNotTheToken()
{
    Service f(scenarioWith(item(wholeSecond(3600 * 1000))));
    // Without the token: only the form that asks for it.
    Answer a = f.call("GET", u"/"_s, {}, {});
    QCOMPARE(a.status, 200);
    QVERIFY(a.body.contains("name=\"token\""));
    QVERIFY(!a.body.contains("api/items"));
    a = f.call("GET", u"/?token="_s + kToken, {}, {});
    QCOMPARE(a.status, 303);
    const QByteArray cookie = header(a, "Set-Cookie");
    QVERIFY2(cookie.contains("HttpOnly") && cookie.contains("SameSite=Strict"), cookie.constData());
    a = f.call("GET", u"/"_s, {}, {});
    QCOMPARE(a.status, 200);
    QVERIFY(a.body.contains("入札予定一覧"));
    QVERIFY(!a.body.contains(kToken.toLatin1()));
    const int at = int(a.body.indexOf("name=\"csrf\" content=\"")) + 21;
    const QByteArray csrf = a.body.mid(at, a.body.indexOf('"', at) - at);
    QCOMPARE(csrf.size(), 64);
    // The page's own request carries its CSRF token and gets through; the same without it
    // does not.
    const QByteArray bad = R"({"item": "x1", "max": -1})";
    QCOMPARE(f.call("POST", u"/api/items"_s, bad, {{"X-CSRF-Token", csrf}}).status, 400);
    QCOMPARE(f.call("POST", u"/api/items"_s, bad, {}).status, 403);
    QCOMPARE(f.call("GET", u"/api/items"_s, {}, {}).status, 200);
}

QTEST_GUILESS_MAIN(tst_Service)
#include "tst_service.moc"
