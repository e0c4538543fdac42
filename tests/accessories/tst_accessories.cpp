#include "frmoptions.h"
#include "frmtip.h"
#include "testapp.h"
#include "tips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStringEncoder>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {
const QString kSettings = u"Settings"_s;

template <typename T> T *child(QWidget &w, const char *name)
{
    return w.findChild<T *>(QString::fromLatin1(name));
}
} // namespace

// The options dialog, the tip window and the about window.
class tst_Accessories : public QObject
{
    Q_OBJECT
private slots:
    void optionsRoundTrip()
    {
        TestApp t;
        {
            frmOptions dialog(t.settings, t.values, t.prompter);
            dialog.load();
            QCOMPARE(child<QComboBox>(dialog, "cmbefSec")->currentText(), u"30"_s);
            child<QComboBox>(dialog, "cmbefSec")->setCurrentText(u"10"_s);
            child<QCheckBox>(dialog, "chkCATOn")->setChecked(true);
            child<QCheckBox>(dialog, "chkMnlNyusatu")->setChecked(true);
            child<QComboBox>(dialog, "Combo1")->setCurrentText(u"5"_s);
            child<QLineEdit>(dialog, "Text2")->setText(u"HTTP=proxy.example.jp:8080"_s);
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
        QCOMPARE(t.settings.get(kSettings, u"Befsec"_s, QString()), u"10"_s);
        QVERIFY(t.settings.getBool(kSettings, u"CatOn"_s, false));
        QCOMPARE(t.settings.get(kSettings, u"NotifyWon"_s, QString()), u"0"_s);
        QCOMPARE(t.settings.get(kSettings, u"NotifyLost"_s, QString()), u"1"_s);
        QCOMPARE(t.settings.get(kSettings, u"NotifySound"_s, QString()), u"1"_s);

        frmOptions again(t.settings, t.values, t.prompter);
        again.load();
        QCOMPARE(child<QComboBox>(again, "cmbefSec")->currentText(), u"10"_s);
        QCOMPARE(child<QComboBox>(again, "Combo1")->currentText(), u"5"_s);
        QVERIFY(child<QCheckBox>(again, "chkMnlNyusatu")->isChecked());
        QCOMPARE(child<QLineEdit>(again, "Text2")->text(), u"HTTP=proxy.example.jp:8080"_s);
        // ｷｬﾝｾﾙ keeps nothing typed, and still applies what is stored.
        t.settings.save(kSettings, u"BEFSEC"_s, u"60"_s);
        t.values.befSec = 5;
        frmOptions cancelled(t.settings, t.values, t.prompter);
        cancelled.load();
        child<QComboBox>(cancelled, "cmbefSec")->setCurrentText(u"5"_s);
        child<QPushButton>(cancelled, "cmdCancel")->click();
        QCOMPARE(t.values.befSec, 60);
        QCOMPARE(t.settings.get(kSettings, u"Befsec"_s, QString()), u"60"_s);
    }

    void okWithAnUnwritableFileSaysSoAndStaysOpen()
    {
        TestApp t;
        // The settings file's folder is a plain file: nothing can be written there.
        QFile blocker(t.home.path(u"blocker"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SettingsStore settings(blocker.fileName() + u"/snipewell.ini"_s);
        frmOptions dialog(settings, t.values, t.prompter);
        dialog.load();
        dialog.show();
        child<QComboBox>(dialog, "cmbefSec")->setCurrentText(u"60"_s);
        child<QPushButton>(dialog, "cmdOK")->click();
        QCOMPARE(t.prompter.messages.size(), 1);
        QVERIFY2(t.prompter.messages.first().startsWith(QStringLiteral(
                     "設定を設定ファイルに保存できませんでした。プログラムを終了するまで"
                     "は有効です。")),
                 qPrintable(t.prompter.messages.first()));
        QVERIFY(dialog.isVisible());
        QCOMPARE(t.values.befSec, 60); // in effect until the program ends
    }

    void badProxy()
    {
        const QString proxy = u"http=proxy.example.jp:8080"_s; // the prefix is upper case
        TestApp t;
        t.settings.save(kSettings, u"Befsec"_s, u"10"_s);
        t.settings.save(kSettings, u"Proxy"_s, proxy);
        frmOptions dialog(t.settings, t.values, t.prompter);
        dialog.load();
        // At opening: the message, and the bidding values are not taken over.
        QCOMPARE(t.prompter.messages,
                 QStringList{u"プロキシの設定が不正です。\n例：HTTP=proxy.example.jp:8080"_s});
        QCOMPARE(t.values.befSec, 30);
        // OK: reported again, stored anyway, and the dialog closes.
        dialog.cmdOK_Click();
        QCOMPARE(t.prompter.messages.size(), 2);
        QCOMPARE(t.settings.get(kSettings, u"Proxy"_s, QString()), proxy);
        QCOMPARE(t.values.befSec, 10);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void tipsFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("tips");
        QTest::newRow("UTF-8, empty line kept")
            << QByteArray("一つ目\n\n三つ目\n") << QStringList{u"一つ目"_s, QString(), u"三つ目"_s};
        QStringEncoder sjis("Shift_JIS");
        QTest::newRow("Shift_JIS, CR LF") << QByteArray(sjis.encode(u"入札のコツ\r\nｶﾃｺﾞﾘ"_s))
                                          << QStringList{u"入札のコツ"_s, u"ｶﾃｺﾞﾘ"_s};
        QTest::newRow("no final line break") << QByteArray("a\nb") << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("empty file") << QByteArray() << QStringList{};
    }

    void tipsFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, tips);
        TempHome home;
        QFile f(home.path(tipsFileName()));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        QCOMPARE(readTips(f.fileName()), std::optional<QStringList>(tips));
        QVERIFY(!readTips(home.path(u"missing.txt"_s)));
    }
};

QTEST_MAIN(tst_Accessories)
#include "tst_accessories.moc"
