#include "searchquery.h"
#include "sitehosts.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace sw;

// How searches are addressed and how the site's category pages are read.
class tst_SearchQuery : public QObject
{
    Q_OBJECT
private slots:
    void keywordEncoding()
    {
        // Every byte encoded, letters too; EUC-JP, half-width katakana sent full width.
        const QList<std::pair<QString, QString>> cases{{u"abc"_s, u"%61%62%63"_s},
                                                       {u"黄色"_s, u"%B2%AB%BF%A7"_s},
                                                       {u"ｼｬﾂ"_s, u"%A5%B7%A5%E3%A5%C4"_s},
                                                       {u"a　b"_s, u"%61%A1%A1%62"_s},
                                                       {QString(), QString()}};
        for (const auto &[keyword, encoded] : cases)
            QCOMPARE(encodeKeyword(keyword), encoded);
    }

    void keywordSearchAddress()
    {
        const SiteHosts hosts;
        QCOMPARE(
            keywordSearchUrl(hosts, u"ab"_s, u"2084"_s, 100, 1000),
            QStringLiteral("https://search.auctions.yahoo.co.jp/search/auc?p=%61%62&alocale=0jp"
                           "&acc=jp&which_cat=2084&auccat=2084&aucminprice=100&aucmaxprice=1000"));
        // No category selected: both category keys go out empty.
        QVERIFY(
            keywordSearchUrl(hosts, u"a"_s, QString(), 0, 0).contains(u"&which_cat=&auccat=&"_s));
    }

    void pageCount()
    {
        // Fifty hits a page, a half rounded to even: 75 -> 2, 125 -> 4.
        const QList<std::pair<qint64, int>> cases{{120, 3}, {75, 2}, {125, 4}, {25, 2},
                                                  {1, 1},   {50, 2}, {99, 3}};
        for (const auto &[hits, pages] : cases)
            QCOMPARE(resultPageCount(hits), pages);
    }

    void categoryOptions_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QList<SiteCategory>>("expected");
        QTest::newRow("two options")
            << QStringLiteral("<SELECT name=c><OPTION VALUE=\"2084\">おもちゃ、ゲーム\n"
                              "<OPTION VALUE=\"23000\">ファッション</SELECT>")
            << QList<SiteCategory>{{2084, u"おもちゃ、ゲーム"_s}, {23000, u"ファッション"_s}};
        QTest::newRow("a short option ends the list")
            << QStringLiteral("<SELECT><OPTION VALUE=\"1\">本<OPTION VALUE=\"23000\">ファッション"
                              "</SELECT>")
            << QList<SiteCategory>{};
        QTest::newRow("only the first block counts")
            << QStringLiteral("<SELECT><OPTION VALUE=\"2084\">おもちゃ、ゲーム</SELECT>"
                              "<SELECT><OPTION VALUE=\"23000\">ファッション</SELECT>")
            << QList<SiteCategory>{{2084, u"おもちゃ、ゲーム"_s}};
        QTest::newRow("no block") << u"<html>no options</html>"_s << QList<SiteCategory>{};
    }

    void categoryOptions()
    {
        QFETCH(QString, page);
        QFETCH(QList<SiteCategory>, expected);
        QCOMPARE(parseCategoryOptions(page), expected);
    }

    void listingCategory_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("title");
        QTest::addColumn<qint64>("id"); // -1: nothing registered
        QTest::addColumn<QString>("name");
        const QString list = u"http://list1.auctions.yahoo.co.jp/jp/"_s;
        QTest::newRow("12345-category.html")
            << list + u"12345-category.html"_s << u"Yahoo!オークション - ミニ四駆"_s
            << qint64(12345) << u"ミニ四駆"_s;
        QTest::newRow("123-category.html: dash too early")
            << list + u"123-category.html"_s << u"Yahoo!オークション - ミニ四駆"_s << qint64(-1)
            << QString();
        QTest::newRow("1234-: dash at the fifth character")
            << list + u"1234-category.html"_s << u"Yahoo!オークション - 本"_s << qint64(1234)
            << u"本"_s;
        QTest::newRow("not a number before the dash")
            << list + u"abcde-category.html"_s << u"Yahoo!オークション - 本"_s << qint64(-1)
            << QString();
        QTest::newRow("another site's title")
            << list + u"12345-category.html"_s << u"Example - 本"_s << qint64(-1) << QString();
        QTest::newRow("one-word title") << list + u"12345-category.html"_s
                                        << u"Yahoo!オークション"_s << qint64(-1) << QString();
        QTest::newRow("not a listing host")
            << u"http://search.auctions.yahoo.co.jp/jp/12345-category.html"_s
            << u"Yahoo!オークション - 本"_s << qint64(-1) << QString();
    }

    void listingCategory()
    {
        QFETCH(QString, url);
        QFETCH(QString, title);
        QFETCH(qint64, id);
        QFETCH(QString, name);
        const std::optional<SiteCategory> c = categoryOfListing(url, title);
        QCOMPARE(c.has_value(), id >= 0);
        if (c)
            QCOMPARE(*c, (SiteCategory{id, name}));
    }

    void itemPageCategory_data()
    {
        QTest::addColumn<int>("links");
        QTest::addColumn<qint64>("id");
        auto trail = [](int n) {
            QString t;
            for (int i = 1; i <= n; ++i)
                t += u"<a href=\"http://list1.auctions.yahoo.co.jp/jp/"_s +
                     QString::number(1000 + i) + u"-category.html\"><b>分類"_s +
                     QString::number(i) + u"</b></a> &gt; "_s;
            return t;
        };
        QTest::addColumn<QString>("page");
        QTest::newRow("three links: the last") << 3 << qint64(1003) << trail(3);
        QTest::newRow("ten links: the eighth") << 10 << qint64(1008) << trail(10);
        QTest::newRow("no trail") << 0 << qint64(-1) << u"<html>商品</html>"_s;
    }

    void itemPageCategory()
    {
        QFETCH(int, links);
        QFETCH(qint64, id);
        QFETCH(QString, page);
        const std::optional<SiteCategory> c = categoryOfItemPage(page);
        QCOMPARE(c.has_value(), id >= 0);
        if (c) {
            QCOMPARE(c->id, id);
            QCOMPARE(c->name, u"分類"_s + QString::number(qMin(links, 8)));
        }
    }

    void priceBoxes()
    {
        // Digit groups and blanks are taken; the rest is refused (-1).
        const QList<std::pair<QString, int>> cases{
            {u"1000"_s, 1000}, {u"1,000"_s, 1000}, {u" 100 "_s, 100},     {QString(), -1},
            {u"abc"_s, -1},    {u"-5"_s, -1},      {u"99999999999"_s, -1}};
        for (const auto &[text, value] : cases) {
            const std::optional<qint32> n = priceFromBox(text);
            QCOMPARE(n ? *n : -1, value);
        }
    }
};

QTEST_GUILESS_MAIN(tst_SearchQuery)
#include "tst_searchquery.moc"
