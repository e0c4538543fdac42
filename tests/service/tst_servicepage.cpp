#include "servicefixture.h"

#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

using namespace Qt::StringLiterals;

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

// The text of the element with that id.
QString textOf(QWebEnginePage &page, const char *id)
{
    return run(page, u"document.getElementById('%1').textContent"_s.arg(QLatin1String(id)))
        .toString();
}
} // namespace

// The service's page in a real browser engine (offscreen, a phone's 360 px): the token once,
// then an item added through the form, its row, a change, the row's verdict once the
// auction is over, and a restart of the service.
class tst_ServicePage : public QObject
{
    Q_OBJECT
private slots:
    void addAnItemAndSeeItsVerdict()
    {
        const QDateTime end = wholeSecond(20000);
        Service f(scenarioWith(item(end)));
        f.host.start();
        QWebEngineProfile profile; // its own cookies, nothing kept
        QWebEngineView view;
        QWebEnginePage page(&profile);
        view.setPage(&page);
        view.resize(360, 740);
        view.show();
        bool loaded = false;
        connect(&page, &QWebEnginePage::loadFinished, this, [&loaded](bool ok) { loaded = ok; });
        page.load(QUrl(f.base() + u"/?token="_s + kToken));
        QTRY_VERIFY_WITH_TIMEOUT(loaded, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(run(page, u"document.title"_s).toString(),
                                  u"Snipewell 入札サービス"_s, 10000);
        // The address no longer holds the token: the session cookie does.
        QCOMPARE(page.url().query(), QString());
        QTRY_VERIFY_WITH_TIMEOUT(textOf(page, "rows").contains(u"入札予定はありません"_s), 10000);

        // The form, as a user fills it on a phone's Japanese keyboard; the outcome beside the
        // button pressed.
        run(page, QStringLiteral(
                      "var f = document.getElementById('add-form');"
                      "f.item.value = 'x1'; f.max.value = '５，０００'; f.quantity.value = '１';"
                      "f.querySelector('button[type=submit]').click(); true"));
        QTRY_VERIFY_WITH_TIMEOUT(textOf(page, "add-msg").startsWith(u"追加しました：x1"_s), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(textOf(page, "rows").contains(u"テスト商品 x1"_s), 10000);
        QVERIFY(f.db.itemByItemid(u"x1"_s));
        QCOMPARE(f.db.itemByItemid(u"x1"_s)->ItemYen, 5000);
        // Nothing wider than the phone.
        QVERIFY2(run(page, u"document.documentElement.scrollWidth"_s).toInt() <= 360,
                 qPrintable(run(page, u"document.documentElement.scrollWidth"_s).toString()));
        // 入札をやめる: the form shows what is stored now, so 保存 does not arm it again.
        run(page, u"openEdit('x1'); document.getElementById('cancel-bid').click(); true"_s);
        QTRY_COMPARE_WITH_TIMEOUT(
            run(page, u"document.getElementById('edit-form').quantity.value"_s).toString(), u"0"_s,
            10000);
        QVERIFY(textOf(page, "edit-msg").startsWith(u"入札をやめました"_s));
        run(page,
            QStringLiteral("var e = document.getElementById('edit-form'); e.quantity.value = '1';"
                           "e.querySelector('button[type=submit]').click(); true"));
        QTRY_COMPARE_WITH_TIMEOUT(f.db.itemByItemid(u"x1"_s)->Numkai, 1, 10000);
        // The bid goes out; the row says how it ended, by itself.
        QTRY_VERIFY_WITH_TIMEOUT(textOf(page, "rows").contains(u"落札しました：3,100円"_s), 40000);
        QCOMPARE(f.amountsSent(), QStringList{u"5000"_s});
        // The service restarts (its sessions are gone): the page asks for the token again
        // instead of showing a list it can no longer read.
        f.gate = ServiceGate(kToken, {u"127.0.0.1:"_s + QString::number(f.port)});
        QTRY_VERIFY_WITH_TIMEOUT(
            run(page, u"!!document.querySelector('input[name=token]')"_s).toBool(), 10000);
    }
};

QTEST_MAIN(tst_ServicePage)
#include "tst_servicepage.moc"
