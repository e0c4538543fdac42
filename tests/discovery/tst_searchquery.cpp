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
    void keywordEncoding_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("letters are encoded too") << u"abc"_s << u"%61%62%63"_s;
        QTest::newRow("full width: two EUC-JP bytes each") << u"黄色"_s << u"%B2%AB%BF%A7"_s;
        QTest::newRow("half-width katakana sent full width") << u"ｼｬﾂ"_s << u"%A5%B7%A5%E3%A5%C4"_s;
        QTest::newRow("mixed with a full-width blank") << u"a　b"_s << u"%61%A1%A1%62"_s;
        QTest::newRow("empty") << QString() << QString();
    }

    void keywordEncoding()
    {
        QFETCH(QString, keyword);
        QFETCH(QString, encoded);
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

    void pageCount_data()
    {
        QTest::addColumn<qint64>("hits");
        QTest::addColumn<int>("pages");
        QTest::newRow("120 -> 3.4 -> 3") << qint64(120) << 3;
        QTest::newRow("75 -> 2.5 -> 2 (even)") << qint64(75) << 2;
        QTest::newRow("125 -> 3.5 -> 4 (even)") << qint64(125) << 4;
        QTest::newRow("25 -> 1.5 -> 2 (even)") << qint64(25) << 2;
        QTest::newRow("1 -> 1") << qint64(1) << 1;
        QTest::newRow("50 -> 2") << qint64(50) << 2;
        QTest::newRow("99 -> 2.98 -> 3") << qint64(99) << 3;
    }

    void pageCount()
    {
        QFETCH(qint64, hits);
        QFETCH(int, pages);
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

    void priceBoxes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value"); // -1: refused
        QTest::newRow("plain") << u"1000"_s << 1000;
        QTest::newRow("digit groups") << u"1,000"_s << 1000;
        QTest::newRow("blanks around") << u" 100 "_s << 100;
        QTest::newRow("empty") << QString() << -1;
        QTest::newRow("letters") << u"abc"_s << -1;
        QTest::newRow("negative") << u"-5"_s << -1;
        QTest::newRow("too large") << u"99999999999"_s << -1;
    }

    void priceBoxes()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        const std::optional<qint32> n = priceFromBox(text);
        QCOMPARE(n ? *n : -1, value);
    }
};

QTEST_GUILESS_MAIN(tst_SearchQuery)
#include "tst_searchquery.moc"
