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
    it.id = QStringLiteral("x100000001");
    it.server = 3;
    it.title = QStringLiteral("ｶﾞﾝﾀﾞﾑ プラモデル");
    it.seller = QStringLiteral("toy_shop");
    it.price = 12500;
    it.bids = 7;
    it.highBidder = QStringLiteral("Aiko_99");
    it.buyNow = 30000;
    it.reserve = 50000;
    it.description = QStringLiteral("前回は落札しました。最高額入札者：終了");
    it.end = kNow.addSecs(3600);
    sim::Item ended = it;
    ended.end = kNow.addSecs(-60);
    s.halfWidthLabels = true;
    sim::Scenario today;
    today.today = true;
    const sim::Viewer member{QStringLiteral("Aiko_99"), QStringLiteral("c1"), false};
    return {
        sim::todayItemPage(today, it, {}, kNow).toUtf8(),
        sim::todayItemPage(today, ended, member, kNow).toUtf8(),
        sim::todayResultPage(today, QStringLiteral("検索"), 2, 1, {&it, &ended}).toUtf8(),
        sim::todayListPage(today, QStringLiteral("ウォッチリスト"), {&it, &ended},
                           QStringLiteral("/openwatchlist?apg=2"))
            .toUtf8(),
        QByteArray("<script id=\"__NEXT_DATA__\">") + QByteArray(3000, '[') +
            QByteArray("</script><script>var pageData = ") + QByteArray(3000, '{') + "a:1",
        QByteArray(
            "var pageData = {a: 'x\\', b: [1,,2], /* c */ d: undefined, \"e\": {f: {g: {}}},};"),
        sim::toEucJp(sim::itemPage({}, it, {}, kNow)),
        sim::toEucJp(sim::itemPage(s, ended, QStringLiteral("Aiko_99"), kNow)),
        sim::toEucJp(sim::bidPreviewPage(it, 13000, QStringLiteral("http://page3.x/p"),
                                         QStringLiteral("abc"))),
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
    // Conversions, each of which must stay inside its input.
    const QByteArray jis = EucToJis(bytes, r.bounded(2) == 1);
    JisToSjis(jis);
    JisToEuc(jis);
    SjisToJis(bytes, r.bounded(2) == 1);
    SjisFoldKana(bytes);
    NormalizeNewlines(bytes);

    const QString text = decoded(bytes);
    int cursor = int(r.bounded(quint32(text.size() + 3))) - 1;
    GetBetween(text, cursor, QStringLiteral("<"), QStringLiteral(">"));
    parseSiteNumber(text.left(12));
    parseSiteEndTime(text.left(40), kNow);
    readItemPage(QStringLiteral("http://page3.auctions.yahoo.co.jp/jp/auction/x1"), text, kNow);
    ParseItemStatus(text, QStringLiteral("Aiko_99"), kNow);
    looksLikeLoginPage(text);
    SiteClock::parseHttpDate(bytes.left(40));

    // Today's pages: whatever their blocks hold, an item page reads with its end, or says why
    // it does not.
    const QString page = decodePage(bytes, "text/html; charset=UTF-8", r.bounded(2) == 1);
    const ItemPage item = readItemPage(
        QStringLiteral("https://auctions.yahoo.co.jp/jp/auction/x100000001"), page, kNow);
    QVERIFY(item.ok() ? item.item.enddate.isValid() && !item.item.Itemname.isEmpty()
                      : !item.failure.isEmpty());
    ParseItemStatus(page, QStringLiteral("Aiko_99"), kNow);
    for (const ItemAddress &a :
         itemLinks(page, QStringLiteral("https://auctions.yahoo.co.jp/x/y"), SiteHosts()))
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
    const QString built = hosts.formSubmission(
        QStringLiteral("https://page3.auctions.yahoo.co.jp/jp/config/placebid"),
        {{QStringLiteral("a"), value}, {QStringLiteral("Bid"), QStringLiteral("100")}});
    const QUrlQuery back(QUrl(built, QUrl::StrictMode));
    QCOMPARE(back.queryItems(QUrl::FullyDecoded).size(), 2);
    QCOMPARE(back.queryItemValue(QStringLiteral("Bid")), QStringLiteral("100"));
    QVERIFY(QUrl(built).host() == QStringLiteral("page3.auctions.yahoo.co.jp"));

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
                .contains(QStringLiteral("大きすぎます")));
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
