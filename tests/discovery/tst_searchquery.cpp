#include "searchquery.h"
#include "sitehosts.h"

#include <QTest>

using namespace sw;

// How searches are addressed and how the site's category pages are read.
class tst_SearchQuery : public QObject
{
    Q_OBJECT
private slots:
    void keywordEncoding_data();
    void keywordEncoding();
    void keywordSearchAddress();
    void pageCount_data();
    void pageCount();
    void categoryOptions_data();
    void categoryOptions();
    void listingCategory_data();
    void listingCategory();
    void itemPageCategory_data();
    void itemPageCategory();
    void priceBoxes_data();
    void priceBoxes();
};

void tst_SearchQuery::keywordEncoding_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("letters are encoded too")
        << QStringLiteral("abc") << QStringLiteral("%61%62%63");
    QTest::newRow("full width: two EUC-JP bytes each")
        << QStringLiteral("黄色") << QStringLiteral("%B2%AB%BF%A7");
    QTest::newRow("half-width katakana sent full width")
        << QStringLiteral("ｼｬﾂ") << QStringLiteral("%A5%B7%A5%E3%A5%C4");
    QTest::newRow("mixed with a full-width blank")
        << QStringLiteral("a　b") << QStringLiteral("%61%A1%A1%62");
    QTest::newRow("empty") << QString() << QString();
}

void tst_SearchQuery::keywordEncoding()
{
    QFETCH(QString, keyword);
    QFETCH(QString, encoded);
    QCOMPARE(encodeKeyword(keyword), encoded);
}

void tst_SearchQuery::keywordSearchAddress()
{
    const SiteHosts hosts;
    QCOMPARE(keywordSearchUrl(hosts, QStringLiteral("ab"), QStringLiteral("2084"), 100, 1000),
             QStringLiteral("https://search.auctions.yahoo.co.jp/search/auc?p=%61%62&alocale=0jp"
                            "&acc=jp&which_cat=2084&auccat=2084&aucminprice=100&aucmaxprice=1000"));
    // No category selected: both category keys go out empty.
    QVERIFY(keywordSearchUrl(hosts, QStringLiteral("a"), QString(), 0, 0)
                .contains(QStringLiteral("&which_cat=&auccat=&")));
}

void tst_SearchQuery::pageCount_data()
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

void tst_SearchQuery::pageCount()
{
    QFETCH(qint64, hits);
    QFETCH(int, pages);
    QCOMPARE(resultPageCount(hits), pages);
}

void tst_SearchQuery::categoryOptions_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QList<SiteCategory>>("expected");
    QTest::newRow("two options") << QStringLiteral(
                                        "<SELECT name=c><OPTION VALUE=\"2084\">おもちゃ、ゲーム\n"
                                        "<OPTION VALUE=\"23000\">ファッション</SELECT>")
                                 << QList<SiteCategory>{{2084, QStringLiteral("おもちゃ、ゲーム")},
                                                        {23000, QStringLiteral("ファッション")}};
    QTest::newRow("a short option ends the list")
        << QStringLiteral("<SELECT><OPTION VALUE=\"1\">本<OPTION VALUE=\"23000\">ファッション"
                          "</SELECT>")
        << QList<SiteCategory>{};
    QTest::newRow("only the first block counts")
        << QStringLiteral("<SELECT><OPTION VALUE=\"2084\">おもちゃ、ゲーム</SELECT>"
                          "<SELECT><OPTION VALUE=\"23000\">ファッション</SELECT>")
        << QList<SiteCategory>{{2084, QStringLiteral("おもちゃ、ゲーム")}};
    QTest::newRow("no block") << QStringLiteral("<html>no options</html>") << QList<SiteCategory>{};
}

void tst_SearchQuery::categoryOptions()
{
    QFETCH(QString, page);
    QFETCH(QList<SiteCategory>, expected);
    QCOMPARE(parseCategoryOptions(page), expected);
}

void tst_SearchQuery::listingCategory_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("title");
    QTest::addColumn<qint64>("id"); // -1: nothing registered
    QTest::addColumn<QString>("name");
    const QString list = QStringLiteral("http://list1.auctions.yahoo.co.jp/jp/");
    QTest::newRow("12345-category.html") << list + QStringLiteral("12345-category.html")
                                         << QStringLiteral("Yahoo!オークション - ミニ四駆")
                                         << qint64(12345) << QStringLiteral("ミニ四駆");
    QTest::newRow("123-category.html: dash too early")
        << list + QStringLiteral("123-category.html")
        << QStringLiteral("Yahoo!オークション - ミニ四駆") << qint64(-1) << QString();
    QTest::newRow("1234-: dash at the fifth character")
        << list + QStringLiteral("1234-category.html") << QStringLiteral("Yahoo!オークション - 本")
        << qint64(1234) << QStringLiteral("本");
    QTest::newRow("not a number before the dash")
        << list + QStringLiteral("abcde-category.html") << QStringLiteral("Yahoo!オークション - 本")
        << qint64(-1) << QString();
    QTest::newRow("another site's title")
        << list + QStringLiteral("12345-category.html") << QStringLiteral("Example - 本")
        << qint64(-1) << QString();
    QTest::newRow("one-word title")
        << list + QStringLiteral("12345-category.html") << QStringLiteral("Yahoo!オークション")
        << qint64(-1) << QString();
    QTest::newRow("not a listing host")
        << QStringLiteral("http://search.auctions.yahoo.co.jp/jp/12345-category.html")
        << QStringLiteral("Yahoo!オークション - 本") << qint64(-1) << QString();
}

void tst_SearchQuery::listingCategory()
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

void tst_SearchQuery::itemPageCategory_data()
{
    QTest::addColumn<int>("links");
    QTest::addColumn<qint64>("id");
    auto trail = [](int n) {
        QString t;
        for (int i = 1; i <= n; ++i)
            t += QStringLiteral("<a href=\"http://list1.auctions.yahoo.co.jp/jp/") +
                 QString::number(1000 + i) + QStringLiteral("-category.html\"><b>分類") +
                 QString::number(i) + QStringLiteral("</b></a> &gt; ");
        return t;
    };
    QTest::addColumn<QString>("page");
    QTest::newRow("three links: the last") << 3 << qint64(1003) << trail(3);
    QTest::newRow("ten links: the eighth") << 10 << qint64(1008) << trail(10);
    QTest::newRow("no trail") << 0 << qint64(-1) << QStringLiteral("<html>商品</html>");
}

void tst_SearchQuery::itemPageCategory()
{
    QFETCH(int, links);
    QFETCH(qint64, id);
    QFETCH(QString, page);
    const std::optional<SiteCategory> c = categoryOfItemPage(page);
    QCOMPARE(c.has_value(), id >= 0);
    if (c) {
        QCOMPARE(c->id, id);
        QCOMPARE(c->name, QStringLiteral("分類") + QString::number(qMin(links, 8)));
    }
}

void tst_SearchQuery::priceBoxes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // -1: refused
    QTest::newRow("plain") << QStringLiteral("1000") << 1000;
    QTest::newRow("digit groups") << QStringLiteral("1,000") << 1000;
    QTest::newRow("blanks around") << QStringLiteral(" 100 ") << 100;
    QTest::newRow("empty") << QString() << -1;
    QTest::newRow("letters") << QStringLiteral("abc") << -1;
    QTest::newRow("negative") << QStringLiteral("-5") << -1;
    QTest::newRow("too large") << QStringLiteral("99999999999") << -1;
}

void tst_SearchQuery::priceBoxes()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    const std::optional<qint32> n = priceFromBox(text);
    QCOMPARE(n ? *n : -1, value);
}

QTEST_GUILESS_MAIN(tst_SearchQuery)
#include "tst_searchquery.moc"
