#include "textconv.h"

#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTest>

#include <memory>
#include <vector>

using namespace sw;

namespace {
QByteArray hex(const char *h)
{
    return QByteArray::fromHex(QByteArray(h));
}
QString fromEuc(const QByteArray &b)
{
    QStringDecoder d("EUC-JP");
    return d.decode(b);
}
QString fromSjis(const QByteArray &b)
{
    QStringDecoder d("Shift_JIS");
    return d.decode(b);
}
QByteArray toSjis(const QString &s)
{
    QStringEncoder e("Shift_JIS");
    return e.encode(s);
}
QByteArray toEuc(const QString &s)
{
    QStringEncoder e("EUC-JP");
    return e.encode(s);
}
} // namespace

class tst_TextConv : public QObject
{
    Q_OBJECT
private slots:
    void randomBytesNeverHangOrOverRead();
    void eucFolding_data();
    void eucFolding();
    void sjisFolding_data();
    void sjisFolding();
    void everyHalfWidthKanaFoldsToItsFullWidthForm();
    void jisEscapes_data();
    void jisEscapes();
    void newlines_data();
    void newlines();
    void pageChainEqualsDecodingTheFoldedEuc();
    void searchKeywordRoundTrip();
    void pagesDecodeAsTheySay_data();
    void pagesDecodeAsTheySay();
};

void tst_TextConv::eucFolding_data()
{
    QTest::addColumn<QByteArray>("euc");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ｶﾞ is ガ") << hex("8eb68ede") << QStringLiteral("ガ");
    QTest::newRow("ﾊﾟ is パ") << hex("8eca8edf") << QStringLiteral("パ");
    QTest::newRow("ﾊﾞ is バ") << hex("8eca8ede") << QStringLiteral("バ");
    QTest::newRow("ｳﾞ stays two characters") << hex("8eb38ede") << QStringLiteral("ウ゛");
    QTest::newRow("ｶﾟ has no semi-voiced form") << hex("8eb68edf") << QStringLiteral("カ゜");
    QTest::newRow("label in half width")
        << toEuc(QStringLiteral("ｵｰｸｼｮﾝ 終了日時")) << QStringLiteral("オークション 終了日時");
    QTest::newRow("full width untouched")
        << toEuc(QStringLiteral("現在価格：1,200円")) << QStringLiteral("現在価格：1,200円");
}

void tst_TextConv::eucFolding()
{
    QFETCH(QByteArray, euc);
    QFETCH(QString, expected);
    QCOMPARE(fromEuc(EucFoldKana(euc)), expected);
}

void tst_TextConv::sjisFolding_data()
{
    QTest::addColumn<QByteArray>("sjis");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ｳﾞ is ヴ") << toSjis(QStringLiteral("ｳﾞ")) << QStringLiteral("ヴ");
    QTest::newRow("ｱﾞ is ア゛") << toSjis(QStringLiteral("ｱﾞ")) << QStringLiteral("ア゛");
    QTest::newRow("ﾎﾟ is ポ") << toSjis(QStringLiteral("ﾎﾟ")) << QStringLiteral("ポ");
    QTest::newRow("ﾀﾞﾝﾎﾞｰﾙ") << toSjis(QStringLiteral("ﾀﾞﾝﾎﾞｰﾙ")) << QStringLiteral("ダンボール");
    QTest::newRow("kanji with kana-range trail byte")
        << toSjis(QStringLiteral("ソ表能")) << QStringLiteral("ソ表能");
    QTest::newRow("mixed") << toSjis(QStringLiteral("abc ｼｬﾂ 青色"))
                           << QStringLiteral("abc シャツ 青色");
}

void tst_TextConv::sjisFolding()
{
    QFETCH(QByteArray, sjis);
    QFETCH(QString, expected);
    QCOMPARE(fromSjis(SjisFoldKana(sjis)), expected);
}

void tst_TextConv::everyHalfWidthKanaFoldsToItsFullWidthForm()
{
    for (int k = 0xA1; k <= 0xDF; ++k) {
        const QString half = fromEuc(QByteArray("\x8e") + char(k));
        QString expected = half.normalized(QString::NormalizationForm_KC);
        if (k == 0xDE)
            expected = QStringLiteral("゛");
        if (k == 0xDF)
            expected = QStringLiteral("゜");
        const QString got = fromEuc(EucFoldKana(QByteArray("\x8e") + char(k)));
        QVERIFY2(got == expected, qPrintable(QString::number(k, 16) + QLatin1Char(' ') + got));
        QCOMPARE(fromSjis(SjisFoldKana(QByteArray(1, char(k)))), expected);
    }
}

void tst_TextConv::jisEscapes_data()
{
    QTest::addColumn<QByteArray>("euc");
    QTest::addColumn<QByteArray>("jis");
    QTest::newRow("ASCII passes unchanged")
        << QByteArray("<TD><b>1,200") << QByteArray("<TD><b>1,200");
    QTest::newRow("あ then a") << hex("a4a261") << hex("1b244224221b284261");
    QTest::newRow("no switch back at the end") << hex("a4a2") << hex("1b24422422");
}

void tst_TextConv::jisEscapes()
{
    QFETCH(QByteArray, euc);
    QFETCH(QByteArray, jis);
    QCOMPARE(EucToJis(euc, false), jis);
    QCOMPARE(JisToEuc(jis), euc);
    QCOMPARE(JisToSjis(jis), toSjis(fromEuc(euc)));
    QCOMPARE(SjisToJis(JisToSjis(jis), false), jis);
}

void tst_TextConv::newlines_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("mixed line ends")
        << QByteArray("a\nb\rc\r\nd") << QByteArray("a\r\nb\r\nc\r\nd");
    QTest::newRow("LF LF") << QByteArray("\n\n") << QByteArray("\r\n\r\n");
    QTest::newRow("CR LF once") << QByteArray("\r\n") << QByteArray("\r\n");
    QTest::newRow("LF CR is two") << QByteArray("\n\r") << QByteArray("\r\n\r\n");
    QTest::newRow("CR at the end") << QByteArray("x\r") << QByteArray("x\r\n");
}

void tst_TextConv::newlines()
{
    QFETCH(QByteArray, in);
    QFETCH(QByteArray, out);
    QCOMPARE(NormalizeNewlines(in), out);
}

void tst_TextConv::pageChainEqualsDecodingTheFoldedEuc()
{
    // A page as the site writes it: labels half width, prices, line ends, markup.
    const QString page = QStringLiteral(
        "<TITLE>Yahoo!ｵｰｸｼｮﾝ - ｶﾞﾝﾀﾞﾑ ﾌﾟﾗﾓﾃﾞﾙ 1/144</TITLE>\n"
        "<TD>現在価格</TD><TD><b>12,500円</b>\r\n最高額入札者：<a href=\"x?\">ﾊﾟﾊﾟ</A>\n"
        "ｳﾞｨﾝﾃｰｼﾞ　「ﾊﾞｯｸﾞ」・ｰ｡、");
    const QByteArray euc = toEuc(page);
    const QByteArray chain = JisToSjis(EucToJis(euc, false));
    const QString viaChain = fromSjis(chain);
    const QString direct = fromEuc(EucFoldKana(euc));
    QCOMPARE(viaChain, direct);
    QVERIFY(direct.contains(QStringLiteral("Yahoo!オークション - ガンダム プラモデル")));
    QVERIFY(direct.contains(QStringLiteral("パパ")));
    QString crlf = direct;
    crlf.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    QCOMPARE(fromSjis(NormalizeNewlines(chain)), crlf);
}

void tst_TextConv::searchKeywordRoundTrip()
{
    const QString keyword = QStringLiteral("（黄色　青色）　ｼｬﾂ　－ジャンク abc");
    const QByteArray euc = JisToEuc(SjisToJis(toSjis(keyword), false));
    QCOMPARE(fromEuc(euc), QStringLiteral("（黄色　青色）　シャツ　－ジャンク abc"));
    // Keeping half width: the kana reach EUC-JP as SS2 pairs.
    const QByteArray kept = JisToEuc(SjisToJis(toSjis(QStringLiteral("ｼｬﾂ")), true));
    QCOMPARE(fromEuc(kept), QStringLiteral("ｼｬﾂ"));
}

void tst_TextConv::pagesDecodeAsTheySay_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("text");
    const QString kana = QStringLiteral("ｶﾞﾝﾀﾞﾑ ﾌﾟﾗﾓﾃﾞﾙ ｳﾞｨﾝﾃｰｼﾞ");
    const QString folded = QStringLiteral("ガンダム プラモデル ヴィンテージ");
    // 鎮 is E9 8E AE in UTF-8: a folding of the bytes took 8E AE for a half-width ｮ.
    const QString kanji = QStringLiteral("鎮痛 伎楽 終了 最高額");
    QTest::newRow("nothing said: the classic EUC-JP")
        << toEuc(QStringLiteral("ｶﾞﾝﾀﾞﾑ 鎮")) << QByteArray("text/html")
        << QStringLiteral("ガンダム 鎮");
    QTest::newRow("UTF-8 in the header, kana folded as text")
        << kana.toUtf8() << QByteArray("text/html; charset=UTF-8") << folded;
    QTest::newRow("UTF-8 bytes the byte folding broke")
        << kanji.toUtf8() << QByteArray("text/html;charset=utf-8") << kanji;
    QTest::newRow("<meta charset>")
        << (QStringLiteral("<head><meta charset=\"utf-8\"></head>") + kanji).toUtf8()
        << QByteArray("text/html")
        << QStringLiteral("<head><meta charset=\"utf-8\"></head>") + kanji;
    QTest::newRow("<meta http-equiv>")
        << (QStringLiteral(
                "<META http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">") +
            kana)
               .toUtf8()
        << QByteArray()
        << QStringLiteral(
               "<META http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">") +
               folded;
    QTest::newRow("the header over the page")
        << toEuc(QStringLiteral("<meta charset=\"utf-8\">ｼｬﾂ"))
        << QByteArray("text/html; charset=EUC-JP")
        << QStringLiteral("<meta charset=\"utf-8\">シャツ");
    QTest::newRow("Shift_JIS") << toSjis(QStringLiteral("ｼｬﾂ 青色"))
                               << QByteArray("text/html; charset=Shift_JIS")
                               << QStringLiteral("シャツ 青色");
    QTest::newRow("a charset nobody knows reads as UTF-8")
        << kanji.toUtf8() << QByteArray("text/html; charset=x-unknown-9") << kanji;
}

void tst_TextConv::pagesDecodeAsTheySay()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, text);
    QCOMPARE(decodePage(body, contentType, false), text);
    // Line ends as asked, whatever the charset.
    QCOMPARE(decodePage(body + "\na\r", contentType, true), text + QStringLiteral("\r\na\r\n"));
}

void tst_TextConv::randomBytesNeverHangOrOverRead()
{
    // Exactly sized heap buffers, so a read one byte past the input is caught by the
    // sanitizer build of this test.
    // Truncated sequences are passed through as they are.
    QCOMPARE(EucFoldKana(QByteArray("a\x8e")), QByteArray("a\x8e"));
    QCOMPARE(JisToSjis(QByteArray("\x1b$B\x24")), QByteArray("\x24"));
    QRandomGenerator rng(20261206);
    const std::uint8_t interesting[] = {0x1B, '$',  '(',  'B',  'J',  '@',  'K',  'H',
                                        0x8E, 0xDE, 0xDF, 0xA1, 0xFE, 0x81, 0x9F, 0xE0,
                                        0xFC, '\r', '\n', 0x00, 0x7F, 0xA0, 0xB6, 0xCA};
    for (int round = 0; round < 20000; ++round) {
        const std::size_t n = rng.bounded(0, 24);
        std::unique_ptr<std::uint8_t[]> buf(new std::uint8_t[n ? n : 1]);
        for (std::size_t i = 0; i < n; ++i) {
            buf[i] = rng.bounded(3) == 0 ? std::uint8_t(rng.bounded(256))
                                         : interesting[rng.bounded(int(sizeof interesting))];
        }
        const Bytes in(buf.get(), n);
        const qsizetype limit = qsizetype(n) * 8 + 8;
        QVERIFY(EucFoldKana(in).size() <= limit);
        QVERIFY(EucToJis(in, false).size() <= limit);
        QVERIFY(EucToJis(in, true).size() <= limit);
        QVERIFY(JisToSjis(in).size() <= limit);
        QVERIFY(JisToEuc(in).size() <= limit);
        QVERIFY(NormalizeNewlines(in).size() <= limit);
        QVERIFY(SjisFoldKana(in).size() <= limit);
        QVERIFY(SjisToJis(in, false).size() <= limit);
        QVERIFY(SjisToJis(in, true).size() <= limit);
    }
}

QTEST_GUILESS_MAIN(tst_TextConv)
#include "tst_textconv.moc"
