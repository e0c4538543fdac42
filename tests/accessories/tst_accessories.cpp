#include "frmabout.h"
#include "frmoptions.h"
#include "frmtip.h"
#include "testapp.h"
#include "tips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringEncoder>
#include <QTest>

using namespace sw;

// The options dialog, the tip window and the about window.
class tst_Accessories : public QObject
{
    Q_OBJECT
private slots:
    void optionsRoundTrip();
    void cancelStillAppliesStoredValues();
    void okWithAnUnwritableFileSaysSoAndStaysOpen();
    void badProxy_data();
    void badProxy();
    void tipsFiles_data();
    void tipsFiles();
};

namespace {
const QString kSettings = QStringLiteral("Settings");

template <typename T> T *child(QWidget &w, const char *name)
{
    return w.findChild<T *>(QString::fromLatin1(name));
}
} // namespace

void tst_Accessories::optionsRoundTrip()
{
    TestApp t;
    {
        frmOptions dialog(t.settings, t.values, t.prompter);
        dialog.load();
        QCOMPARE(child<QComboBox>(dialog, "cmbefSec")->currentText(), QStringLiteral("30"));
        child<QComboBox>(dialog, "cmbefSec")->setCurrentText(QStringLiteral("10"));
        child<QCheckBox>(dialog, "chkCATOn")->setChecked(true);
        child<QCheckBox>(dialog, "chkMnlNyusatu")->setChecked(true);
        child<QComboBox>(dialog, "Combo1")->setCurrentText(QStringLiteral("5"));
        child<QLineEdit>(dialog, "Text2")->setText(QStringLiteral("HTTP=proxy.example.jp:8080"));
        QVERIFY(child<QCheckBox>(dialog, "chkNotifyWon")->isChecked()); // every notice is on
        child<QCheckBox>(dialog, "chkNotifyWon")->setChecked(false);
        child<QCheckBox>(dialog, "chkNotifySound")->setChecked(true);
        child<QPushButton>(dialog, "cmdOK")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    QCOMPARE(t.values.befSec, 10);
    QVERIFY(t.values.catOn && t.values.mnlNyusatu);
    QCOMPARE(t.values.refreshIntervalSec, 300);
    QVERIFY(t.prompter.messages.isEmpty());
    // Written as "BefSec" and "CATOn", read back by the list as "Befsec" and "CatOn".
    QCOMPARE(t.settings.get(kSettings, QStringLiteral("Befsec"), QString()), QStringLiteral("10"));
    QVERIFY(t.settings.getBool(kSettings, QStringLiteral("CatOn"), false));
    QCOMPARE(t.settings.get(kSettings, QStringLiteral("NotifyWon"), QString()),
             QStringLiteral("0"));
    QCOMPARE(t.settings.get(kSettings, QStringLiteral("NotifyLost"), QString()),
             QStringLiteral("1"));
    QCOMPARE(t.settings.get(kSettings, QStringLiteral("NotifySound"), QString()),
             QStringLiteral("1"));

    frmOptions again(t.settings, t.values, t.prompter);
    again.load();
    QCOMPARE(child<QComboBox>(again, "cmbefSec")->currentText(), QStringLiteral("10"));
    QCOMPARE(child<QComboBox>(again, "Combo1")->currentText(), QStringLiteral("5"));
    QVERIFY(child<QCheckBox>(again, "chkMnlNyusatu")->isChecked());
    QCOMPARE(child<QLineEdit>(again, "Text2")->text(),
             QStringLiteral("HTTP=proxy.example.jp:8080"));
}

void tst_Accessories::cancelStillAppliesStoredValues()
{
    TestApp t;
    t.settings.save(kSettings, QStringLiteral("BEFSEC"), QStringLiteral("60"));
    t.settings.save(kSettings, QStringLiteral("catOn"), QStringLiteral("1"));
    t.values.befSec = 5;
    frmOptions dialog(t.settings, t.values, t.prompter);
    dialog.load();
    child<QComboBox>(dialog, "cmbefSec")->setCurrentText(QStringLiteral("5"));
    child<QPushButton>(dialog, "cmdCancel")->click();
    QCOMPARE(t.values.befSec, 60);
    QVERIFY(t.values.catOn);
    QCOMPARE(t.settings.get(kSettings, QStringLiteral("Befsec"), QString()), QStringLiteral("60"));
}

void tst_Accessories::okWithAnUnwritableFileSaysSoAndStaysOpen()
{
    TestApp t;
    // The settings file's folder is a plain file: nothing can be written there.
    QFile blocker(t.home.path(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SettingsStore settings(blocker.fileName() + QStringLiteral("/snipewell.ini"));
    frmOptions dialog(settings, t.values, t.prompter);
    dialog.load();
    dialog.show();
    child<QComboBox>(dialog, "cmbefSec")->setCurrentText(QStringLiteral("60"));
    child<QPushButton>(dialog, "cmdOK")->click();
    QCOMPARE(t.prompter.messages.size(), 1);
    QVERIFY2(t.prompter.messages.first().startsWith(
                 QStringLiteral("設定を設定ファイルに保存できませんでした。プログラムを終了するまで"
                                "は有効です。")),
             qPrintable(t.prompter.messages.first()));
    QVERIFY(dialog.isVisible());
    QCOMPARE(t.values.befSec, 60); // in effect until the program ends
}

void tst_Accessories::badProxy_data()
{
    QTest::addColumn<QString>("proxy");
    QTest::newRow("lower-case prefix") << QStringLiteral("http=proxy.example.jp:8080");
    QTest::newRow("no prefix") << QStringLiteral("proxy.example.jp:8080");
    QTest::newRow("no port") << QStringLiteral("HTTP=proxy.example.jp");
}

void tst_Accessories::badProxy()
{
    QFETCH(QString, proxy);
    TestApp t;
    t.settings.save(kSettings, QStringLiteral("Befsec"), QStringLiteral("10"));
    t.settings.save(kSettings, QStringLiteral("Proxy"), proxy);
    frmOptions dialog(t.settings, t.values, t.prompter);
    dialog.load();
    // At opening: the message, and the bidding values are not taken over.
    QCOMPARE(
        t.prompter.messages,
        QStringList{QStringLiteral("プロキシの設定が不正です。\n例：HTTP=proxy.example.jp:8080")});
    QCOMPARE(t.values.befSec, 30);
    // OK: reported again, stored anyway, and the dialog closes.
    dialog.cmdOK_Click();
    QCOMPARE(t.prompter.messages.size(), 2);
    QCOMPARE(t.settings.get(kSettings, QStringLiteral("Proxy"), QString()), proxy);
    QCOMPARE(t.values.befSec, 10);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void tst_Accessories::tipsFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("tips");
    QTest::newRow("UTF-8, empty line kept")
        << QByteArray("一つ目\n\n三つ目\n")
        << QStringList{QStringLiteral("一つ目"), QString(), QStringLiteral("三つ目")};
    QStringEncoder sjis("Shift_JIS");
    QTest::newRow("Shift_JIS, CR LF")
        << QByteArray(sjis.encode(QStringLiteral("入札のコツ\r\nｶﾃｺﾞﾘ")))
        << QStringList{QStringLiteral("入札のコツ"), QStringLiteral("ｶﾃｺﾞﾘ")};
    QTest::newRow("no final line break")
        << QByteArray("a\nb") << QStringList{QStringLiteral("a"), QStringLiteral("b")};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
}

void tst_Accessories::tipsFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, tips);
    TempHome home;
    QFile f(home.path(tipsFileName()));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    QCOMPARE(readTips(f.fileName()), std::optional<QStringList>(tips));
    QVERIFY(!readTips(home.path(QStringLiteral("missing.txt"))));
}

QTEST_MAIN(tst_Accessories)
#include "tst_accessories.moc"
