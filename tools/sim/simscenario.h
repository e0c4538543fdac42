#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <optional>

namespace sim {

struct Bidder
{
    QString id;
    QString password;      // empty with an smsCode: a member without a password
    QStringList watchlist; // item ids, in order
    QString smsCode = {};  // today's login asks for this code (sent "by SMS") after the ID
};

struct Category
{
    qint64 id = 0;
    QString name;
};

// A scripted rival: bids its maximum at a moment of the auction.
struct RivalBid
{
    QString bidder;
    qint32 max = 0;
    double at = -1;        // seconds after the simulator started, or
    double beforeEnd = -1; // seconds before the (original) end
};

// What the site answers to one bid.
enum class BidOutcome
{
    Accepted,       // the bidder is the highest bidder
    Outbid,         // another bidder's maximum was higher
    TooLow,         // below the current price plus one unit
    BelowReserve,   // below the reserve price
    BoughtOutright, // at or above the buy-it-now price: won at once
    Ended,
};

struct Item
{
    QString id;
    int server = 1; // its page host "page<server>.<domain>"; 0: today's "page.<domain>"
    QString title;
    QString seller;
    qint32 startPrice = 1;
    qint32 price = 1; // current price
    int bids = 0;
    QString highBidder; // empty: nobody has bid
    qint32 bidUnit = 0; // 0: the site's table by price
    int quantity = 1;
    qint32 buyNow = 0;  // 0: none
    qint32 reserve = 0; // 0: none
    bool autoExtend = true;
    bool showUnit = true;       // false: the page has no "単位：" row, as some pages do not
    bool bareWhenEnded = false; // ended: the page keeps only its title and the ended notice
    int extensionSecs = 300;    // how far a late price-raising bid moves the end
    QString description;        // the seller's own words, under "商品説明"
    QDateTime end;
    QList<Category> trail; // category trail, root first
    QList<RivalBid> rivals;
    QHash<QString, qint32> maxBids; // each bidder's maximum (proxy bidding)
    QHash<QString, int> quantities; // the quantity of each bidder's last accepted bid
    // Today's pages add these.
    bool store = false;     // a store's item: its price with tax differs (10 %)
    bool earlyEnd = false;  // the seller may end early (isEarlyClosing)
    double endEarlyAt = -1; // seconds after the start the seller ends it (with a bidder)
    double cancelAt = -1;   // seconds after the start the seller cancels it
    bool cancelled = false;
    QDateTime originalEnd; // the end before any automatic extension
    QString sellerKey;     // the site's opaque seller id

    bool ended(const QDateTime &now) const { return cancelled || now >= end; }
    // The winner once ended: the highest bidder if the reserve was met.
    QString winner(const QDateTime &now) const;
    qint32 unit() const;
    // The site's rules: proxy bidding up to each bidder's maximum, the bid unit table,
    // reserve price, buy-it-now, and automatic extension (a price-raising bid in the last
    // five minutes moves the end five minutes later).
    BidOutcome bid(const QString &bidder, qint32 amount, const QDateTime &now, int quantity = 1);
    // The lowest amount the site takes now.
    qint32 minimumBid() const;

private:
    BidOutcome bidOnce(const QString &bidder, qint32 amount, const QDateTime &now);
};

// Faults on demand: requests whose host and path match the patterns (wildcards * and ?)
// get this answer instead of the page.
struct Fault
{
    enum Kind
    {
        Latency,
        OneByte,
        Drop,
        Stall,
        Http500,
        LoginPage, // the site's login page instead (a session that expired mid-way)
        ErrorPage, // the site's "busy" page instead, with status 200
        Http503,   // "Service Unavailable", as a front server answers when it sheds load
        Stale      // a cache in front answers: the page as it was `ms` ago, Date and Age to match
    };
    QString host = QStringLiteral("*");
    QString path = QStringLiteral("*");
    Kind kind = Latency;
    int ms = 0;     // latency: the answer leaves this much later
    int inMs = 0;   // latency: the request counts as arrived only this much later
    int count = -1; // how many requests it hits; -1 all
    // The site refuses the request before it looks at it (a busy front server, a dropped
    // connection): a bid sent this way never arrives. Otherwise the site processes the
    // request first and only its answer goes wrong.
    bool beforeProcessing = false;
    static std::optional<Kind> kindFromName(const QString &name);
    static QString name(Kind kind);
};

struct Scenario
{
    QString scheme = QStringLiteral("http");
    QString domain = QStringLiteral("auctions.yahoo.co.jp");
    QString userHost = QStringLiteral("user.auctions.yahoo.co.jp");
    QString loginHost = QStringLiteral("login.yahoo.co.jp");
    QString searchHost = QStringLiteral("search.auctions.yahoo.co.jp");
    QString listHost = QStringLiteral("list1.auctions.yahoo.co.jp");
    QString mainHost = QStringLiteral("auctions.yahoo.co.jp");
    QString profileHost = QStringLiteral("profiles.yahoo.co.jp");
    // Which site it plays: the classic EUC-JP pages, or today's UTF-8 pages with their data
    // blocks and the page's own bid script.
    bool today = false;
    // Today's item page in a second markup: other elements, class names, request addresses
    // and answer wording, the same visible labels.
    QString pageVariant = QStringLiteral("a");
    int watchPageSize = 20;       // today's watch list, rows a page
    bool halfWidthLabels = false; // write the page labels in half-width katakana
    bool showSeconds = false;     // end times with seconds (the real site shows minutes)
    qint64 clockOffsetMs = 0;     // the site's clock runs this far ahead of this machine's
    QList<Bidder> bidders;
    QList<Item> items;
    QList<Fault> faults;
    QDateTime start = QDateTime::currentDateTime(); // when the simulated auctions began

    // The site's own time now: this machine's clock and the offset.
    QDateTime now() const;

    // Item end times in the file are seconds after `start` (this machine's clock); without
    // showSeconds they are moved on to the next whole minute, as the real site's ends are.
    static std::optional<Scenario> fromJson(const QByteArray &json, const QDateTime &start,
                                            QString *error);
    Item *item(const QString &id);
    const Bidder *bidder(const QString &id) const;
};

// Japan time, in which the site writes its pages.
QTimeZone japanTime();

// The site's bid unit for a price.
qint32 siteBidUnit(qint32 price);

} // namespace sim
