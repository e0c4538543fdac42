#include "clock.h"
#include "database.h"
#include "directwriter.h"
#include "itemparser.h"
#include "simpages.h"
#include "siteclock.h"
#include "sitehosts.h"
#include "tempdir.h"
#include "textconv.h"
#include "todaypages.h"
#include <QUrl>
#include <QUrlQuery>

#include <QStringDecoder>

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace sw;

Q_DECLARE_METATYPE(sim::Item)

namespace {

const QDateTime kNow(QDate(2026, 12, 6), QTime(12, 0, 0));
const QString kUrl = u"http://page3.auctions.yahoo.co.jp/jp/auction/x100000001"_s;

sim::Item simItem()
{
    sim::Item it;
    it.id = u"x100000001"_s;
    it.server = 3;
    it.title = u"ガンダム プラモデル"_s;
    it.seller = u"toy_shop"_s;
    it.startPrice = 1000;
    it.price = 12500;
    it.bids = 7;
    it.highBidder = u"rival_hanako"_s;
    it.quantity = 2;
    it.end = kNow.addSecs(3600);
    return it;
}

QString pageOf(const sim::Item &it, const QString &viewer = {}, bool halfWidth = false)
{
    sim::Scenario s;
    s.halfWidthLabels = halfWidth;
    return sim::itemPage(s, it, viewer, kNow);
}

// A page as a person might write it by hand: only the labels the parser reads.
QString handPage(const QString &bidderCell, const QString &extra = {})
{
    return QStringLiteral("<TITLE>Yahoo!オークション - 手書き</TITLE>"
                          "<a href=\"http://u/jp/user/seller1?x\">s</a>"
                          "<TD><b>1,500円</b>最高額入札者：</TD><TD>") +
           bidderCell +
           QStringLiteral("</TD>数量：</TD><TD>1</TD>入札件数：</TD><TD>3</TD>"
                          "開始価格：</TD><TD >100円単位：</TD><TD>100円"
                          "終了日時：</TD><TD>12月 6日 18時 30分 <a href=\"h\">") +
           extra;
}

// The page text as the fetcher hands it over: EUC-JP with half-width katakana folded.
QString fetched(const QString &html)
{
    QStringDecoder d("EUC-JP");
    return d.decode(EucFoldKana(sim::toEucJp(html)));
}

// Today's page of the item as a reader sees it, as the fetcher hands it over.
QString todayOf(const sim::Item &it, const QString &viewer = {}, bool sms = false)
{
    sim::Scenario s;
    s.today = true;
    const sim::Viewer v{viewer, viewer.isEmpty() ? QString() : u"crumb1"_s, sms};
    return decodePage(sim::todayItemPage(s, it, v, kNow).toUtf8(), "text/html; charset=UTF-8",
                      false);
}

} // namespace

struct SimulatedPagesRow
{
    QString html, bidder;
    int buyNow;
    bool reserve, extension, fin;
    int unit;
};

struct FiltersRow
{
    int price, minPrice, maxPrice;
    bool noExt, buyDiffers;
    int buyNow;
    bool extension, stored;
};

struct ItemAddressesRow
{
    QString url;
    QString server; // empty: not an item page of the site's form
    QString id;
};

class tst_ItemParser : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        sw::setClock([] { return kNow; });
    }
    void cleanup() { sw::setClock({}); }
    void numbers()
    {
        // -1: not a number (a word, markup left in, too large, a sign).
        const QList<std::pair<QString, int>> cases{{u"1500"_s, 1500},    {u"12,500"_s, 12500},
                                                   {u" 3,000 "_s, 3000}, {u"\u30001,000"_s, 1000},
                                                   {u"なし"_s, -1},      {u"<b>100"_s, -1},
                                                   {QString(), -1},      {u"99,999,999,999"_s, -1},
                                                   {u"-100"_s, -1},      {u"+100"_s, -1}};
        for (const auto &[text, value] : cases) {
            const auto n = parseSiteNumber(text);
            QCOMPARE(n.value_or(-1), value);
        }
    }

    void endTimes_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected"); // invalid: not a date
        auto jst = [](int y, int mo, int d, int h, int mi, int sec = 0) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, sec), sw::siteZone());
        };
        const QDateTime dec31 = jst(2026, 12, 31, 23, 50), jan1 = jst(2027, 1, 1, 0, 10);
        QTest::newRow("same day") << kNow << "12月 6日 21時 0分" << jst(2026, 12, 6, 21, 0);
        QTest::newRow("no blanks, seconds")
            << kNow << "12月6日21時05分30秒" << jst(2026, 12, 6, 21, 5, 30);
        QTest::newRow("weekday") << kNow << "12月 7日（月） 9時 3分" << jst(2026, 12, 7, 9, 3);
        QTest::newRow("seen 31 Dec, ends 1 Jan")
            << dec31 << "1月 1日 0時 5分" << jst(2027, 1, 1, 0, 5);
        QTest::newRow("seen 1 Jan, ended 31 Dec")
            << jan1 << "12月 31日 23時 55分" << jst(2026, 12, 31, 23, 55);
        QTest::newRow("full-width digits")
            << kNow << "１２月６日２１時０分" << jst(2026, 12, 6, 21, 0);
        QTest::newRow("not a date") << kNow << "終了しました" << QDateTime();
        QTest::newRow("impossible time") << kNow << "12月 6日 25時 0分" << QDateTime();
        QTest::newRow("29 February takes a leap year")
            << jst(2027, 12, 1, 0, 0) << "2月 29日 1時 0分" << jst(2028, 2, 29, 1, 0);
    }

    void endTimes()
    {
        QFETCH(QDateTime, now);
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const auto t = parseSiteEndTime(text, now);
        QCOMPARE(t.has_value(), expected.isValid());
        if (t)
            QCOMPARE(*t, expected);
    }

    void simulatedPages_data()
    {
        QTest::addColumn<SimulatedPagesRow>("row");
        using R = SimulatedPagesRow;
        const QString rival = u"rival_hanako"_s;
        sim::Item it = simItem();
        QTest::newRow("running, full width") << R{pageOf(it), rival, 0, false, true, false, 500};
        QTest::newRow("half-width labels")
            << R{pageOf(it, {}, true), rival, 0, false, true, false, 500};
        sim::Item noUnit = it;
        noUnit.showUnit = false;
        QTest::newRow("no unit on the page: none, the increment table stands in")
            << R{pageOf(noUnit), rival, 0, false, true, false, 0};
        QTest::newRow("a negative unit is no unit")
            << R{QString(pageOf(it))
                     .replace(u"入札単位：</TD><TD>500円"_s, u"入札単位：</TD><TD>-500円"_s),
                 rival,
                 0,
                 false,
                 true,
                 false,
                 0};
        sim::Item words = it;
        words.title = u"終了間近 落札しました品と同型"_s;
        words.description = QStringLiteral("前回は3000円で落札しました。あなたが落札しました。"
                                           "このオークションは終了しました");
        QTest::newRow("marker words in the title and the description decide nothing")
            << R{pageOf(words), rival, 0, false, true, false, 500};
        sim::Item named = it;
        named.highBidder = u"Aiko_99"_s;
        QTest::newRow("a bidder whose ID begins with A")
            << R{pageOf(named), u"Aiko_99"_s, 0, false, true, false, 500};
        sim::Item noBids = it;
        noBids.highBidder.clear();
        noBids.bids = 0;
        noBids.buyNow = 30000;
        noBids.autoExtend = false;
        QTest::newRow("no bidder, buy-it-now, no extension")
            << R{pageOf(noBids), u"-"_s, 30000, false, false, false, 500};
        sim::Item reserve = it;
        reserve.reserve = 50000;
        QTest::newRow("reserve") << R{pageOf(reserve), rival, 0, true, true, false, 500};
        sim::Item ended = it;
        ended.end = kNow.addSecs(-60);
        QTest::newRow("ended, seen by another")
            << R{pageOf(ended, u"someone"_s), rival, 0, false, true, true, 500};
        QTest::newRow("ended, won by the viewer")
            << R{pageOf(ended, rival), rival, 0, false, true, true, 500};
    }

    void simulatedPages()
    {
        QFETCH(SimulatedPagesRow, row);
        const auto &[html, bidder, buyNow, reserve, extension, fin, unit] = row;
        // What the fetcher hands over: the page folded to full width.
        const ItemPage p = readItemPage(kUrl, fetched(html), kNow);
        QVERIFY2(p.ok(), qPrintable(p.failure));
        QCOMPARE(p.item.itemid, u"x100000001"_s);
        QCOMPARE(p.item.Serverid, u"3"_s);
        QVERIFY(!p.item.Itemname.isEmpty());
        QCOMPARE(p.item.ShuppinShaID, u"toy_shop"_s);
        QCOMPARE(p.item.ItemYenNow, 12500);
        QCOMPARE(p.item.SaikougakuShaid, bidder);
        QCOMPARE(p.item.ItemYenKibou, buyNow);
        QCOMPARE(p.item.NumUri, 2);
        QCOMPARE(p.item.ItemYenStart, 1000);
        QCOMPARE(p.item.ItemYenUnit, unit);
        QCOMPARE(p.item.Flagsaitei, reserve);
        QCOMPARE(p.item.Flagjidouencho, extension);
        QCOMPARE(p.item.fin, fin);
        QCOMPARE(p.item.NumNyuusatu, fin || bidder != "-"_L1 ? 7 : 0);
    }

    void todayAndClassicAgree_data()
    {
        QTest::addColumn<sim::Item>("item");
        QTest::addColumn<QString>("viewer");
        QTest::addColumn<bool>("fin");
        QTest::addColumn<QString>("todayLeader"); // what today's page says of who leads
        sim::Item it = simItem();
        it.end = kNow.addSecs(3600 + 17); // to the second
        it.trail = {{0, u"オークション"_s}, {2084005000, u"プラモデル"_s}};
        QTest::newRow("open, logged out") << it << "" << false << "";
        QTest::newRow("open, logged in") << it << "snipe_taro" << false << "";
        sim::Item ended = it;
        ended.end = kNow.addSecs(-61);
        QTest::newRow("ended, another won") << ended << "snipe_taro" << true << "";
        QTest::newRow("ended, won by the reader")
            << ended << "rival_hanako" << true << "rival_hanako";
        sim::Item cancelled = it;
        cancelled.cancelled = true;
        QTest::newRow("cancelled by the seller") << cancelled << "" << true << "";
        sim::Item extended = it;
        extended.originalEnd = it.end.addSecs(-300);
        QTest::newRow("extended: the end in the data moved") << extended << "" << false << "";
        sim::Item store = it;
        store.store = true;
        QTest::newRow("a store's item: tax kept apart") << store << "" << false << "";
        sim::Item buyNow = it;
        buyNow.buyNow = 30000;
        buyNow.bids = 0;
        buyNow.highBidder.clear();
        buyNow.autoExtend = false;
        QTest::newRow("buy-it-now, no bids: nobody leads") << buyNow << "" << false << "-";
        sim::Item many = it;
        many.quantity = 5;
        many.earlyEnd = true;
        QTest::newRow("quantity 5, may end early") << many << "" << false << "";
        sim::Item kana = it;
        kana.title = u"ｶﾞﾝﾀﾞﾑ 鎮 ﾌﾟﾗﾓﾃﾞﾙ"_s;
        kana.description =
            u"あなたが落札しました。最高額入札者：me このオークションは終了しています"_s;
        QTest::newRow("half-width title, marker words in the description")
            << kana << "" << false << "";
    }

    void todayAndClassicAgree()
    {
        QFETCH(sim::Item, item);
        QFETCH(QString, viewer);
        QFETCH(bool, fin);
        QFETCH(QString, todayLeader);
        sim::Scenario classicSite;
        classicSite.showSeconds = true;
        const ItemPage classic =
            readItemPage(kUrl, fetched(sim::itemPage(classicSite, item, viewer, kNow)), kNow);
        const QString canonical = u"https://auctions.yahoo.co.jp/jp/auction/"_s + item.id;
        const ItemPage today = readItemPage(canonical, todayOf(item, viewer), kNow);
        QVERIFY2(today.ok(), qPrintable(today.failure));
        QCOMPARE(today.generation, SiteGeneration::Today);
        QCOMPARE(today.item.Serverid, QString()); // read again at the canonical address
        QVERIFY2(today.missing.isEmpty(), qPrintable(today.missing.join(QLatin1Char(','))));
        // Both readers give the same item.
        const ItemRecord &a = today.item;
        QCOMPARE(a.itemid, item.id);
        QCOMPARE(a.Itemname, FoldKanaText(item.title));
        QCOMPARE(a.ItemYenNow, item.price);
        QCOMPARE(a.ItemYenStart, item.startPrice);
        QCOMPARE(a.ItemYenKibou, item.buyNow);
        QCOMPARE(a.NumUri, item.quantity);
        QCOMPARE(a.NumNyuusatu, item.bids);
        QCOMPARE(a.Flagjidouencho, item.autoExtend);
        QCOMPARE(a.fin, fin);
        QCOMPARE(a.enddate, item.end); // to the second: never the formatted text
        if (!item.cancelled && classic.ok()) {
            QCOMPARE(a.ItemYenNow, classic.item.ItemYenNow);
            QCOMPARE(a.enddate, classic.item.enddate);
            QCOMPARE(a.fin, classic.item.fin);
        }
        // Who leads: today's page says it only where it knows.
        const std::optional<ItemState> s = ParseItemStatus(todayOf(item, viewer), viewer, kNow);
        QVERIFY(s);
        QCOMPARE(s->bidder, todayLeader);
        QCOMPARE(s->leaderKnown, !todayLeader.isEmpty());
        QCOMPARE(s->finished, fin);
        QCOMPARE(s->end, item.end);
        QCOMPARE(s->cancelled, item.cancelled);
        // What today's page adds.
        QCOMPARE(today.loggedIn, std::optional<bool>(!viewer.isEmpty()));
        QCOMPARE(a.ItemYenTaxin, item.store ? item.price * 110 / 100 : 0);
        QCOMPARE(a.EarlyEnd, item.earlyEnd);
        QCOMPARE(a.ShuppinShaID, item.seller);
        QVERIFY(!a.SellerKey.isEmpty());
        QCOMPARE(a.CatPath, u"オークション > プラモデル"_s);
        QCOMPARE(today.hasWinner, fin && !item.cancelled && !item.highBidder.isEmpty());
    }

    void todayPagesThatDoNotRead_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("says"); // a part of the failure
        sim::Item it = simItem();
        const QString page = todayOf(it);
        const qsizetype a = page.indexOf(u"<script id=\"__NEXT_DATA__\""_s);
        const qsizetype b = page.indexOf(u"</script>"_s, a) + 9;
        const QString noNext = QString(page).remove(a, b - a);
        QTest::newRow("no __NEXT_DATA__: pageData stands in") << noNext << "";
        QString neither = noNext;
        neither.replace(u"var pageData"_s, u"var other"_s);
        QTest::newRow("neither block") << neither << "__NEXT_DATA__";
        QTest::newRow("truncated block")
            << page.left(page.indexOf(u"\"title\""_s) + 20) << "__NEXT_DATA__";
        QTest::newRow("a price that is no number")
            << QString(page).replace(u"\"price\":12500"_s, u"\"price\":\"応相談\""_s) << "price";
        QTest::newRow("only the formatted end")
            << QString(noNext).replace(u"\"endtime\""_s, u"\"x\""_s) << "終了日時";
        QTest::newRow("another item's data") << QString(page).replace(it.id, u"z9"_s) << "別の商品";
    }

    void todayPagesThatDoNotRead()
    {
        QFETCH(QString, html);
        QFETCH(QString, says);
        const ItemPage p =
            readItemPage(u"https://auctions.yahoo.co.jp/jp/auction/"_s + simItem().id, html, kNow);
        QCOMPARE(p.ok(), says.isEmpty());
        QVERIFY2(p.failure.contains(says), qPrintable(p.failure));
        if (says.isEmpty()) {
            QCOMPARE(p.item.ItemYenNow, 12500);
            QCOMPARE(p.item.enddate, simItem().end);
        }
    }

    void bidderWithoutLinkRestartsNearTheTop()
    {
        // The bidder cell has no link: "-", and the next labels are still found although a
        // stray "/A" far below pulled the extraction past them.
        const QString html = handPage(u"-"_s, u"<A>x</A>"_s);
        const ItemPage p = readItemPage(kUrl, html, kNow);
        QVERIFY2(p.ok(), qPrintable(p.failure));
        QCOMPARE(p.item.SaikougakuShaid, u"-"_s);
        QCOMPARE(p.item.NumUri, 1);
        QCOMPARE(p.item.NumNyuusatu, 3);
        QCOMPARE(p.item.ItemYenUnit, 100);
        QCOMPARE(p.item.enddate, QDateTime(QDate(2026, 12, 6), QTime(18, 30), sw::siteZone()));
        QCOMPARE(p.item.ShuppinShaID, u"seller1"_s);
    }

    void badValuesStoreNothing_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("html");
        QTest::newRow("url too short") << "http://page3.x/jp" << handPage(u"-"_s);
        QTest::newRow("no title") << kUrl
                                  << QString(handPage(u"-"_s)).replace(u"Yahoo!"_s, u"Yahoo"_s);
        QTest::newRow("no price") << kUrl
                                  << QString(handPage(u"-"_s)).replace(u"<TD><b>"_s, u"<TD>"_s);
        QTest::newRow("price not a number")
            << kUrl << QString(handPage(u"-"_s)).replace(u"1,500円"_s, u"お問い合わせ円"_s);
        QTest::newRow("quantity not a number")
            << kUrl << QString(handPage(u"-"_s)).replace(u"<TD>1</TD>"_s, u"<TD>多数</TD>"_s);
        QTest::newRow("end not a date")
            << kUrl << QString(handPage(u"-"_s)).replace(u"12月 6日 18時 30分"_s, u"まもなく"_s);
        QTest::newRow("won by the user") << kUrl << handPage(u"-"_s, u"あなたが落札しました。"_s);
        QTest::newRow("negative price")
            << kUrl << QString(handPage(u"-"_s)).replace(u"1,500円"_s, u"-100円"_s);
        QTest::newRow("negative quantity")
            << kUrl << QString(handPage(u"-"_s)).replace(u"<TD>1</TD>"_s, u"<TD>-1</TD>"_s);
    }

    void badValuesStoreNothing()
    {
        QFETCH(QString, url);
        QFETCH(QString, html);
        TempHome home;
        ItemDatabase db(home.path(u"db2k.mdb"_s));
        QVERIFY(db.open() && db.createSchema());
        ItemPageParser parser(db);
        writeStraightToStore(parser, db);
        QSignalSpy changed(&parser, &ItemPageParser::itemsChanged);
        QCOMPARE(parser.ParseItemPage(url, html, 0, 0), 0);
        QCOMPARE(db.listItems({}, kNow)->size(), 0);
        QCOMPARE(changed.size(), 0);
    }

    void filters_data()
    {
        QTest::addColumn<FiltersRow>("row");
        using R = FiltersRow;
        QTest::newRow("no bounds when max is 0") << R{100, 5000, 0, false, false, 0, true, true};
        QTest::newRow("at the maximum") << R{3000, 0, 3000, false, false, 0, true, true};
        QTest::newRow("above the maximum") << R{3001, 0, 3000, false, false, 0, true, false};
        QTest::newRow("below the minimum") << R{2999, 3000, 5000, false, false, 0, true, false};
        QTest::newRow("at the minimum") << R{3000, 3000, 5000, false, false, 0, true, true};
        QTest::newRow("extension not wanted") << R{100, 0, 0, true, false, 0, true, false};
        QTest::newRow("no extension wanted, none") << R{100, 0, 0, true, false, 0, false, true};
        QTest::newRow("buy price equals start") << R{100, 0, 0, false, true, 1000, true, false};
        QTest::newRow("buy price differs") << R{100, 0, 0, false, true, 5000, true, true};
    }

    void filters()
    {
        QFETCH(FiltersRow, row);
        const auto &[price, minPrice, maxPrice, noExt, buyDiffers, buyNow, extension, stored] = row;
        sim::Item it = simItem();
        it.price = price;
        it.buyNow = buyNow;
        it.autoExtend = extension;
        TempHome home;
        ItemDatabase db(home.path(u"db2k.mdb"_s));
        QVERIFY(db.open() && db.createSchema());
        ItemPageParser parser(db);
        writeStraightToStore(parser, db);
        QCOMPARE(parser.ParseItemPage(kUrl, pageOf(it), minPrice, maxPrice, noExt, buyDiffers),
                 stored ? 1 : 0);
        QCOMPARE(db.listItems({}, kNow)->size(), stored ? 1 : 0);
    }

    void insertThenUpdateKeepsTheUsersColumns()
    {
        TempHome home;
        ItemDatabase db(home.path(u"db2k.mdb"_s));
        QVERIFY(db.open() && db.createSchema());
        ItemPageParser parser(db);
        writeStraightToStore(parser, db);
        QSignalSpy changed(&parser, &ItemPageParser::itemsChanged);
        sim::Item it = simItem();
        QCOMPARE(parser.ParseItemPage(kUrl, pageOf(it), 0, 0), 1);
        // A new row: no category, no maximum, no quantity, watching.
        const ItemRecord first = *db.itemByItemid(it.id);
        QCOMPARE(first.cat, u"0"_s);
        QVERIFY(first.ItemYen == 0 && first.Numkai == 0 && first.status == 0);
        QVERIFY(db.saveUserColumns(first.id, 20000, u"5"_s, 1, 2));
        it.price = 15000;
        it.bids = 9;
        QCOMPARE(parser.ParseItemPage(kUrl, pageOf(it), 0, 0), 2);
        const ItemRecord second = *db.itemByItemid(it.id);
        QCOMPARE(second.id, first.id);
        QCOMPARE(second.cat, u"5"_s);
        QCOMPARE(second.ItemYen, 20000);
        QCOMPARE(second.Numkai, 1);
        QCOMPARE(second.status, 2);
        QCOMPARE(second.ItemYenNow, 15000);
        QCOMPARE(second.NumNyuusatu, 9);
        QCOMPARE(changed.size(), 2);
        QCOMPARE(db.listItems({}, QDateTime::currentDateTime())->size(), 1);
    }

    void shortParse_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<bool>("found");
        QTest::addColumn<bool>("finished");
        QTest::addColumn<QString>("bidder");
        sim::Item it = simItem();
        QTest::newRow("running") << pageOf(it) << true << false << "rival_hanako";
        sim::Item ended = it;
        ended.end = kNow.addSecs(-1);
        QTest::newRow("ended, someone else won") << pageOf(ended) << true << true << "rival_hanako";
        QTest::newRow("won: the user's own ID")
            << pageOf(ended, u"rival_hanako"_s) << true << true << "me";
        QTest::newRow("not an item page") << sim::notFoundPage() << false << false << "";
        sim::Item talk = it;
        talk.description =
            QStringLiteral("前回は3000円で落札しました。最高額入札者：<a href=\"http://u/"
                           "jp/user/me?\">me</A> 終了");
        QTest::newRow("a running item's description decides nothing")
            << pageOf(talk) << true << false << "rival_hanako";
        sim::Item titled = it;
        titled.title = u"あなたが落札しました。と書いてある品"_s;
        QTest::newRow("nor its title") << pageOf(titled) << true << false << "rival_hanako";
        sim::Item endedTalk = ended;
        endedTalk.description = u"あなたが落札しました。"_s;
        QTest::newRow("ended, won by another whatever the description says")
            << pageOf(endedTalk) << true << true << "rival_hanako";
        QTest::newRow("ended early by the page's own notice")
            << QString(pageOf(it))
                   .replace(u"<TABLE><TR><TD><B>商品説明"_s,
                            QStringLiteral("<P>このオークションは終了しました。</P>"
                                           "<TABLE><TR><TD><B>商品説明"))
            << true << true << "rival_hanako";
        QTest::newRow("end not a date")
            << QString(pageOf(it)).replace(u"終了日時：</TD><TD>"_s, u"終了日時：</TD><TD>未定"_s)
            << false << false << "";
    }

    void shortParse()
    {
        QFETCH(QString, html);
        QFETCH(bool, found);
        QFETCH(bool, finished);
        QFETCH(QString, bidder);
        const auto s = ParseItemStatus(html, u"me"_s, kNow);
        QCOMPARE(s.has_value(), found);
        if (!s)
            return;
        QCOMPARE(s->finished, finished);
        QCOMPARE(s->bidder, bidder);
        QCOMPARE(s->price, 12500);
        QCOMPARE(s->bids, 7);
    }

    void itemAddresses_data()
    {
        QTest::addColumn<ItemAddressesRow>("row");
        using R = ItemAddressesRow;
        QTest::newRow("an item page") << R{kUrl, u"3"_s, u"x100000001"_s};
        QTest::newRow("with a query and a fragment")
            << R{kUrl + u"?tab=1#bid"_s, u"3"_s, u"x100000001"_s};
        // The server column's "-" stands for today's items, read at the canonical address.
        QTest::newRow("today's canonical address") << R{
            u"https://auctions.yahoo.co.jp/jp/auction/k1096?ref=watch#bid"_s, u"-"_s, u"k1096"_s};
        QTest::newRow("canonical over http, a slash after")
            << R{u"http://auctions.yahoo.co.jp/jp/auction/k2/"_s, u"-"_s, u"k2"_s};
        QTest::newRow("the page. host")
            << R{u"https://page.auctions.yahoo.co.jp/jp/auction/k1096"_s, u"-"_s, u"k1096"_s};
        QTest::newRow("another host with the site's path")
            << R{u"https://evil.example/jp/auction/k1"_s, QString(), QString()};
        QTest::newRow("today's host over http")
            << R{u"http://page.auctions.yahoo.co.jp/jp/auction/k1"_s, u"-"_s, u"k1"_s};
        QTest::newRow("an old host over https")
            << R{u"https://page12.auctions.yahoo.co.jp/jp/auction/b2"_s, u"12"_s, u"b2"_s};
        QTest::newRow("another scheme")
            << R{u"ftp://page.auctions.yahoo.co.jp/jp/auction/k1"_s, QString(), QString()};
        QTest::newRow("a host of one label")
            << R{u"https://page.localhost/jp/auction/k1"_s, QString(), QString()};
        QTest::newRow("the server number as user info, a port, another host")
            << R{u"http://evil.example/page3@2130706433:18999/a/x1.html"_s, QString(), QString()};
        QTest::newRow("user info before the host") << R{
            u"http://page3.auctions.yahoo.co.jp@127.0.0.1/jp/auction/x1"_s, QString(), QString()};
        QTest::newRow("a port") << R{u"http://page3.auctions.yahoo.co.jp:8080/jp/auction/x1"_s,
                                     QString(), QString()};
        QTest::newRow("a server that is not a number")
            << R{u"http://page3x.auctions.yahoo.co.jp/jp/auction/x1"_s, QString(), QString()};
        QTest::newRow("a path going elsewhere") << R{
            u"http://page3.auctions.yahoo.co.jp/jp/auction/../show/x1"_s, QString(), QString()};
        QTest::newRow("an id with more in it")
            << R{u"http://page3.auctions.yahoo.co.jp/jp/auction/a&Bid=1&passwd=zz"_s, QString(),
                 QString()};
        QTest::newRow("no scheme")
            << R{u"page3.auctions.yahoo.co.jp/jp/auction/x1"_s, QString(), QString()};
    }

    void itemAddresses()
    {
        QFETCH(ItemAddressesRow, row);
        const auto &[url, server, id] = row;
        const std::optional<ItemAddress> a = SiteHosts::parseItemPageUrl(url);
        QCOMPARE(a.has_value(), !server.isEmpty());
        if (a) {
            QCOMPARE(a->serverid, server == "-"_L1 ? QString() : server);
            QCOMPARE(a->itemid, id);
        }
        // The full parse takes its id and server from nowhere else.
        QCOMPARE(readItemPage(url, pageOf(simItem()), kNow).ok(), !server.isEmpty());
    }

    void addressesAreBuiltNotPasted()
    {
        const SiteHosts hosts;
        // Stored values of another form give no address at all.
        QCOMPARE(hosts.itemPage(u"3/../../x?"_s, u"x1"_s), QString());
        QCOMPARE(hosts.itemPage(u"3"_s, u"a#frag"_s), QString());
        QCOMPARE(hosts.bidPreview(u"3"_s, u"a&Bid=1&passwd=zz"_s, u"100"_s, u"taro"_s, u"%70%77"_s,
                                  u"1"_s),
                 QString());
        // Every value is one value of the query, whatever it holds.
        const QString preview =
            hosts.bidPreview(u"3"_s, u"x1"_s, u"100"_s, u"ta ro&x=1"_s, u"%70%77"_s, u"1#2"_s);
        const QUrl u(preview);
        QCOMPARE(u.host(), u"page3.auctions.yahoo.co.jp"_s);
        const QUrlQuery q(u);
        QCOMPARE(q.queryItemValue(u"login"_s, QUrl::FullyDecoded), u"ta ro&x=1"_s);
        QCOMPARE(q.queryItemValue(u"passwd"_s, QUrl::FullyDecoded), u"pw"_s);
        QCOMPARE(q.queryItemValue(u"Quantity"_s, QUrl::FullyDecoded), u"1#2"_s);
        QVERIFY(!q.hasQueryItem(u"x"_s));
        // A form's target from a page is used only on the site's own item hosts.
        const QList<std::pair<QString, QString>> values = {{u"a"_s, u"t"_s}};
        QVERIFY(
            hosts.formSubmission(u"https://page3.auctions.yahoo.co.jp/jp/config/placebid"_s, values)
                .startsWith(u"https://page3.auctions.yahoo.co.jp/jp/config/placebid?a=t"_s));
        for (const char *elsewhere :
             {"http://evil.example/jp/config/placebid",
              "http://page3.auctions.yahoo.co.jp.evil.example/p",
              "http://page3.auctions.yahoo.co.jp/p", // a step down to http
              "http://x@page3.auctions.yahoo.co.jp/p", "/jp/config/placebid"})
            QVERIFY2(hosts.formSubmission(QString::fromLatin1(elsewhere), values).isEmpty(),
                     elsewhere);
    }
};

QTEST_GUILESS_MAIN(tst_ItemParser)
#include "tst_itemparser.moc"
