// A bounded random driver for everything that reads what the site (or a hand-edited file)
// hands the program: the character-set conversions, the marker extraction, the item page
// parses, numbers, end times, HTTP dates, item addresses and the query builder, the
// password scrambling. Built with AddressSanitizer and UBSan: any read past an input,
// overflow or undefined step fails the run. Properties that must hold are checked too.
//
//   FUZZ_ITERATIONS=2000000 FUZZ_SEED=7 ./build/tests/fuzz_inputs     # a long run
#include "credentials.h"
#include "itemparser.h"
#include "simpages.h"
#include "siteclock.h"
#include "sitehosts.h"
#include "textconv.h"
#include "today/datablocks.h"
#include "today/todaylists.h"
#include "todaypages.h"

#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#include <cstdio>
#include <cstring>
#include <memory>

using namespace Qt::StringLiterals;
using namespace sw;

class fuzz_Inputs : public QObject
{
    Q_OBJECT
private slots:
    void everyInputReadsSafely();
};

namespace {

const QDateTime kNow(QDate(2026, 12, 6), QTime(12, 0), siteZone());

// Pages and fragments the site really sends, to be bent out of shape.
QList<QByteArray> seeds()
{
    sim::Scenario s;
    sim::Item it;
    it.id = u"x100000001"_s;
    it.server = 3;
    it.title = u"ｶﾞﾝﾀﾞﾑ プラモデル"_s;
    it.seller = u"toy_shop"_s;
    it.price = 12500;
    it.bids = 7;
    it.highBidder = u"Aiko_99"_s;
    it.buyNow = 30000;
    it.reserve = 50000;
    it.description = u"前回は落札しました。最高額入札者：終了"_s;
    it.end = kNow.addSecs(3600);
    sim::Item ended = it;
    ended.end = kNow.addSecs(-60);
    s.halfWidthLabels = true;
    sim::Scenario today;
    today.today = true;
    const sim::Viewer member{u"Aiko_99"_s, u"c1"_s, false};
    return {
        sim::todayItemPage(today, it, {}, kNow).toUtf8(),
        sim::todayItemPage(today, ended, member, kNow).toUtf8(),
        sim::todayResultPage(today, u"検索"_s, 2, 1, {&it, &ended}).toUtf8(),
        sim::todayListPage(today, u"ウォッチリスト"_s, {&it, &ended}, u"/openwatchlist?apg=2"_s)
            .toUtf8(),
        QByteArray("<script id=\"__NEXT_DATA__\">") + QByteArray(3000, '[') +
            QByteArray("</script><script>var pageData = ") + QByteArray(3000, '{') + "a:1",
        QByteArray(
            "var pageData = {a: 'x\\', b: [1,,2], /* c */ d: undefined, \"e\": {f: {g: {}}},};"),
        sim::toEucJp(sim::itemPage({}, it, {}, kNow)),
        sim::toEucJp(sim::itemPage(s, ended, u"Aiko_99"_s, kNow)),
        sim::toEucJp(sim::bidPreviewPage(it, 13000, u"http://page3.x/p"_s, u"abc"_s)),
        sim::toEucJp(sim::loginFailedPage()),
        QByteArray("\x1b$B%+%\x1b(B \x8e\xb6\x8e\xde \xa4\xa2\r\n\x82\xa0"),
        QByteArray("Sun, 06 Dec 2026 12:00:05 GMT"),
        QByteArray("http://page3.auctions.yahoo.co.jp/jp/auction/x1?a=b#c"),
        QByteArray("12月 6日 21時 0分 30秒")};
}

QByteArray mutate(QByteArray b, QRandomGenerator &r)
{
    static const QList<QByteArray> markers = {"<TD><b>",
                                              "円</b>",
                                              "最高額入札者：",
                                              "落札者：",
                                              "</A>",
                                              "?\">",
                                              "終了日時：</TD><TD>",
                                              "<a href",
                                              "単位：</TD><TD>",
                                              "-",
                                              ",",
                                              "\x1b$B",
                                              "\x1b(B",
                                              "\x8e",
                                              "%",
                                              "page",
                                              "/",
                                              "@",
                                              ":",
                                              "あなたが落札しました。",
                                              ">商品説明<",
                                              "<TITLE>",
                                              "</TITLE>",
                                              "__NEXT_DATA__",
                                              "var pageData = ",
                                              "{\"a\":",
                                              "[",
                                              "]",
                                              "}",
                                              "'",
                                              "\\",
                                              "</script>",
                                              "data-auction-id=\"",
                                              "data-auction-endtime=\"99999999999\"",
                                              "Tab__subText\">",
                                              "href=\"/jp/auction/",
                                              "\"endTime\":\"",
                                              "\xef\xbd\xb6\xef\xbe\x9e"};
    const int steps = 1 + int(r.bounded(8));
    for (int i = 0; i < steps; ++i) {
        const qsizetype at = b.isEmpty() ? 0 : qsizetype(r.bounded(quint32(b.size() + 1)));
        switch (r.bounded(5)) {
        case 0: // flip a byte
            if (!b.isEmpty())
                b[qMin(at, b.size() - 1)] = char(r.bounded(256));
            break;
        case 1: // cut
            b.truncate(at);
            break;
        case 2: // a marker where it should not be
            b.insert(at, markers.at(qsizetype(r.bounded(quint32(markers.size())))));
            break;
        case 3: // random bytes
            for (int k = 0, n = int(r.bounded(16)); k < n; ++k)
                b.insert(at, char(r.bounded(256)));
            break;
        default: // a slice of itself
            b.insert(at, b.mid(qsizetype(r.bounded(quint32(b.size() + 1))), 32));
            break;
        }
    }
    return b;
}

QString decoded(const QByteArray &euc)
{
    QStringDecoder d("EUC-JP");
    return d.decode(EucFoldKana(euc));
}

void exercise(const QByteArray &bytes, QRandomGenerator &r)
{
    // Conversions, each of which must stay inside its input: an exactly sized copy on the
    // heap, so that a read one byte past it is caught by the sanitizer.
    const std::size_t n = std::size_t(bytes.size());
    std::unique_ptr<char[]> exact(new char[n ? n : 1]);
    std::memcpy(exact.get(), bytes.constData(), n);
    const Bytes in(reinterpret_cast<const std::uint8_t *>(exact.get()), n);
    const qsizetype limit = qsizetype(n) * 8 + 8;
    const QByteArray jis = EucToJis(in, r.bounded(2) == 1);
    const QByteArray sizes[] = {JisToSjis(jis),
                                JisToEuc(jis),
                                SjisToJis(in, r.bounded(2) == 1),
                                SjisFoldKana(in),
                                NormalizeNewlines(in),
                                EucFoldKana(in),
                                jis};
    for (const QByteArray &out : sizes) {
        if (out.size() > limit)
            qFatal("a conversion grew its input more than eightfold");
    }

    const QString text = decoded(bytes);
    int cursor = int(r.bounded(quint32(text.size() + 3))) - 1;
    GetBetween(text, cursor, u"<"_s, u">"_s);
    parseSiteNumber(text.left(12));
    parseSiteEndTime(text.left(40), kNow);
    readItemPage(u"http://page3.auctions.yahoo.co.jp/jp/auction/x1"_s, text, kNow);
    ParseItemStatus(text, u"Aiko_99"_s, kNow);
    looksLikeLoginPage(text);
    SiteClock::parseHttpDate(bytes.left(40));

    // Today's pages: whatever their blocks hold, an item page reads with its end, or says why
    // it does not.
    const QString page = decodePage(bytes, "text/html; charset=UTF-8", r.bounded(2) == 1);
    const ItemPage item =
        readItemPage(u"https://auctions.yahoo.co.jp/jp/auction/x100000001"_s, page, kNow);
    QVERIFY(item.ok() ? item.item.enddate.isValid() && !item.item.Itemname.isEmpty()
                      : !item.failure.isEmpty());
    ParseItemStatus(page, u"Aiko_99"_s, kNow);
    for (const ItemAddress &a : itemLinks(page, u"https://auctions.yahoo.co.jp/x/y"_s, SiteHosts()))
        QVERIFY(SiteHosts::isItemId(a.itemid) && SiteHosts::isServerId(a.serverid));
    for (const SearchRow &row : readSearchPage(page).rows)
        QVERIFY(row.end.isValid() && row.price > 0 && SiteHosts::isItemId(row.itemid));
    scriptObjectToJson(page.left(4000), nullptr);

    // An address either names an item of the site's form, or nothing at all.
    const QString url = QString::fromLatin1(bytes.left(120));
    if (const std::optional<ItemAddress> a = SiteHosts::parseItemPageUrl(url)) {
        QVERIFY2(SiteHosts::isServerId(a->serverid) && SiteHosts::isItemId(a->itemid),
                 qPrintable(url));
    }
    // Whatever a value holds, it comes back as one value of the query, never as more.
    const QString value = text.left(24);
    const SiteHosts hosts;
    const QString built =
        hosts.formSubmission(u"https://page3.auctions.yahoo.co.jp/jp/config/placebid"_s,
                             {{u"a"_s, value}, {u"Bid"_s, u"100"_s}});
    const QUrlQuery back(QUrl(built, QUrl::StrictMode));
    QCOMPARE(back.queryItems(QUrl::FullyDecoded).size(), 2);
    QCOMPARE(back.queryItemValue(u"Bid"_s), u"100"_s);
    QVERIFY(QUrl(built).host() == u"page3.auctions.yahoo.co.jp"_s);

    // A scrambled password always comes back as it was typed.
    const QString password = text.left(1 + int(r.bounded(kMaxPasswordLength)));
    if (!password.isEmpty() && password.size() <= kMaxPasswordLength) {
        const QString stored = Scramble(password, int(r.bounded(60)));
        QCOMPARE(Unscramble(stored), password);
    }
    Unscramble(text.left(60)); // a damaged stored value reads as something, or nothing
}

} // namespace

void fuzz_Inputs::everyInputReadsSafely()
{
    // A data block larger than any page's is refused, not read.
    const QByteArray huge = "<script id=\"__NEXT_DATA__\">{\"a\":\"" +
                            QByteArray(kMaxDataBlockChars + 10, 'x') + "\"}</script>";
    QVERIFY(readDataBlocks(QString::fromLatin1(huge))
                .problems.join(QString())
                .contains(u"大きすぎます"_s));
    const int iterations = qMax(1, qEnvironmentVariableIntValue("FUZZ_ITERATIONS"));
    const quint32 seed = quint32(qEnvironmentVariableIntValue("FUZZ_SEED"));
    QRandomGenerator r(seed == 0 ? 20261206 : seed);
    const QList<QByteArray> corpus = seeds();
    for (int i = 0; i < iterations; ++i) {
        const QByteArray input = mutate(corpus.at(qsizetype(r.bounded(quint32(corpus.size())))), r);
        exercise(input, r);
        if (QTest::currentTestFailed()) {
            std::fprintf(stderr, "input %d (seed %u): %s\n", i, seed,
                         input.toPercentEncoding().constData());
            return;
        }
    }
}

QTEST_GUILESS_MAIN(fuzz_Inputs)
#include "fuzz_inputs.moc"
