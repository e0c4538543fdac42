#include "servicefixture.h"

#include <QWebEnginePage>
#include <QWebEngineProfile>

// The service's page in a real browser engine (offscreen): the token once, then an item
// added through the form, its row, and the row's verdict once the auction is over.
class tst_ServicePage : public QObject
{
    Q_OBJECT
private slots:
    void addAnItemAndSeeItsVerdict();
};

namespace {
// Runs a script in the page and waits for its value.
QVariant run(QWebEnginePage &page, const QString &script)
{
    QVariant out;
    bool done = false;
    page.runJavaScript(script, [&](const QVariant &v) {
        out = v;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        qWarning("the script did not finish");
    return out;
}
} // namespace

void tst_ServicePage::addAnItemAndSeeItsVerdict()
{
    const QDateTime end = wholeSecond(20000);
    Service f(scenarioWith(item(end)));
    f.host.start();
    QWebEngineProfile profile; // its own cookies, nothing kept
    QWebEnginePage page(&profile);
    bool loaded = false;
    connect(&page, &QWebEnginePage::loadFinished, this, [&loaded](bool ok) { loaded = ok; });
    page.load(QUrl(f.base() + QStringLiteral("/?token=") + kToken));
    QTRY_VERIFY_WITH_TIMEOUT(loaded, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(run(page, QStringLiteral("document.title")).toString(),
                              QStringLiteral("Snipewell 入札サービス"), 10000);
    // The address no longer holds the token: the session cookie does.
    QCOMPARE(page.url().query(), QString());
    QTRY_VERIFY_WITH_TIMEOUT(
        run(page, QStringLiteral("document.getElementById('rows').textContent"))
            .toString()
            .contains(QStringLiteral("入札予定はありません")),
        10000);

    // The form, as a user fills it on a phone.
    run(page, QStringLiteral("var f = document.getElementById('add-form');"
                             "f.item.value = 'x1'; f.max.value = '5,000'; f.quantity.value = '1';"
                             "f.querySelector('button[type=submit]').click(); true"));
    QTRY_VERIFY_WITH_TIMEOUT(
        run(page, QStringLiteral("document.getElementById('message').textContent"))
            .toString()
            .startsWith(QStringLiteral("追加しました：x1")),
        10000);
    QTRY_VERIFY_WITH_TIMEOUT(
        run(page, QStringLiteral("document.getElementById('rows').textContent"))
            .toString()
            .contains(QStringLiteral("テスト商品 x1")),
        10000);
    QVERIFY(f.db.itemByItemid(QStringLiteral("x1")));
    QCOMPARE(f.db.itemByItemid(QStringLiteral("x1"))->ItemYen, 5000);
    // The bid goes out; the row says how it ended, by itself.
    QTRY_VERIFY_WITH_TIMEOUT(
        run(page, QStringLiteral("document.getElementById('rows').textContent"))
            .toString()
            .contains(QStringLiteral("落札しました：3,100円")),
        40000);
    QCOMPARE(f.amountsSent(), QStringList{QStringLiteral("5000")});
}

QTEST_MAIN(tst_ServicePage)
#include "tst_servicepage.moc"
