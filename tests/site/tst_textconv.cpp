#include "textconv.h"

#include <QStringDecoder>
#include <QTest>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
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
    void truncatedSequencesPassThrough()
    {
        QCOMPARE(EucFoldKana(QByteArray("a\x8e")), QByteArray("a\x8e"));
        QCOMPARE(JisToSjis(QByteArray("\x1b$B\x24")), QByteArray("\x24"));
    }

    void folding_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("fromEuc");
        QTest::addColumn<QString>("fromSjis");
        QTest::newRow("ｶﾞ is ガ") << u"ｶﾞ"_s << u"ガ"_s << u"ガ"_s;
        QTest::newRow("ﾊﾟ is パ") << u"ﾊﾟ"_s << u"パ"_s << u"パ"_s;
        QTest::newRow("ﾊﾞ is バ") << u"ﾊﾞ"_s << u"バ"_s << u"バ"_s;
        QTest::newRow("ｳﾞ: two characters in EUC-JP, ヴ in Shift_JIS")
            << u"ｳﾞ"_s << u"ウ゛"_s << u"ヴ"_s;
        QTest::newRow("ｶﾟ has no semi-voiced form") << u"ｶﾟ"_s << u"カ゜"_s << u"カ゜"_s;
        QTest::newRow("ｱﾞ is ア゛") << u"ｱﾞ"_s << u"ア゛"_s << u"ア゛"_s;
        QTest::newRow("label in half width")
            << u"ｵｰｸｼｮﾝ 終了日時"_s << u"オークション 終了日時"_s << u"オークション 終了日時"_s;
        QTest::newRow("kanji with kana-range trail byte")
            << u"ソ表能"_s << u"ソ表能"_s << u"ソ表能"_s;
        QTest::newRow("mixed") << u"abc ｼｬﾂ 現在価格：1,200円"_s
                               << u"abc シャツ 現在価格：1,200円"_s
                               << u"abc シャツ 現在価格：1,200円"_s;
    }

    void folding()
    {
        QFETCH(QString, text);
        QFETCH(QString, fromEuc);
        QFETCH(QString, fromSjis);
        QCOMPARE(::fromEuc(EucFoldKana(toEuc(text))), fromEuc);
        QCOMPARE(::fromSjis(SjisFoldKana(toSjis(text))), fromSjis);
    }

    void everyHalfWidthKanaFoldsToItsFullWidthForm()
    {
        for (int k = 0xA1; k <= 0xDF; ++k) {
            const QString half = fromEuc(QByteArray("\x8e") + char(k));
            QString expected = half.normalized(QString::NormalizationForm_KC);
            if (k == 0xDE)
                expected = u"゛"_s;
            if (k == 0xDF)
                expected = u"゜"_s;
            const QString got = fromEuc(EucFoldKana(QByteArray("\x8e") + char(k)));
            QVERIFY2(got == expected, qPrintable(QString::number(k, 16) + QLatin1Char(' ') + got));
            QCOMPARE(fromSjis(SjisFoldKana(QByteArray(1, char(k)))), expected);
        }
    }

    void jisEscapes()
    {
        // ASCII passes unchanged; あ then a; no switch back at the very end.
        const QList<std::pair<QByteArray, QByteArray>> cases{
            {"<TD><b>1,200", "<TD><b>1,200"},
            {hex("a4a261"), hex("1b244224221b284261")},
            {hex("a4a2"), hex("1b24422422")}};
        for (const auto &[euc, jis] : cases) {
            QCOMPARE(EucToJis(euc, false), jis);
            QCOMPARE(JisToEuc(jis), euc);
            QCOMPARE(JisToSjis(jis), toSjis(fromEuc(euc)));
            QCOMPARE(SjisToJis(JisToSjis(jis), false), jis);
        }
    }

    void newlines()
    {
        // Every CR and every LF is a line end; CR LF counts once.
        const QList<std::pair<QByteArray, QByteArray>> cases{{"a\nb\rc\r\nd", "a\r\nb\r\nc\r\nd"},
                                                             {"\n\n", "\r\n\r\n"},
                                                             {"\r\n", "\r\n"},
                                                             {"\n\r", "\r\n\r\n"},
                                                             {"x\r", "x\r\n"}};
        for (const auto &[in, out] : cases)
            QCOMPARE(NormalizeNewlines(in), out);
    }

    void searchKeywordRoundTrip()
    {
        const QString keyword = u"（黄色　青色）　ｼｬﾂ　－ジャンク abc"_s;
        const QByteArray euc = JisToEuc(SjisToJis(toSjis(keyword), false));
        QCOMPARE(fromEuc(euc), u"（黄色　青色）　シャツ　－ジャンク abc"_s);
        // Keeping half width: the kana reach EUC-JP as SS2 pairs.
        const QByteArray kept = JisToEuc(SjisToJis(toSjis(u"ｼｬﾂ"_s), true));
        QCOMPARE(fromEuc(kept), u"ｼｬﾂ"_s);
    }

    void pagesDecodeAsTheySay_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("text");
        const QString kana = u"ｶﾞﾝﾀﾞﾑ ﾌﾟﾗﾓﾃﾞﾙ ｳﾞｨﾝﾃｰｼﾞ"_s;
        const QString folded = u"ガンダム プラモデル ヴィンテージ"_s;
        // 鎮 is E9 8E AE in UTF-8: a folding of the bytes took 8E AE for a half-width ｮ.
        const QString kanji = u"鎮痛 伎楽 終了 最高額"_s;
        QTest::newRow("nothing said: the classic EUC-JP")
            << toEuc(u"ｶﾞﾝﾀﾞﾑ 鎮"_s) << QByteArray("text/html") << u"ガンダム 鎮"_s;
        QTest::newRow("UTF-8 in the header, kana folded as text")
            << kana.toUtf8() << QByteArray("text/html; charset=UTF-8") << folded;
        QTest::newRow("UTF-8 bytes the byte folding broke")
            << kanji.toUtf8() << QByteArray("text/html;charset=utf-8") << kanji;
        QTest::newRow("<meta charset>")
            << (u"<head><meta charset=\"utf-8\"></head>"_s + kanji).toUtf8()
            << QByteArray("text/html") << u"<head><meta charset=\"utf-8\"></head>"_s + kanji;
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
            << toEuc(u"<meta charset=\"utf-8\">ｼｬﾂ"_s) << QByteArray("text/html; charset=EUC-JP")
            << u"<meta charset=\"utf-8\">シャツ"_s;
        QTest::newRow("Shift_JIS")
            << toSjis(u"ｼｬﾂ 青色"_s) << QByteArray("text/html; charset=Shift_JIS")
            << u"シャツ 青色"_s;
        QTest::newRow("a charset nobody knows reads as UTF-8")
            << kanji.toUtf8() << QByteArray("text/html; charset=x-unknown-9") << kanji;
    }

    void pagesDecodeAsTheySay()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(QString, text);
        QCOMPARE(decodePage(body, contentType, false), text);
        // Line ends as asked, whatever the charset.
        QCOMPARE(decodePage(body + "\na\r", contentType, true), text + u"\r\na\r\n"_s);
    }
};

QTEST_GUILESS_MAIN(tst_TextConv)
#include "tst_textconv.moc"
