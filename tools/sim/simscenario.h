#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace sim {

struct Bidder
{
    QString id;
    QString password;
    QStringList watchlist; // item ids, in order
};

struct Category
{
    qint64 id = 0;
    QString name;
};

struct Item
{
    QString id;
    int server = 1;
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
    QDateTime end;
    QList<Category> trail; // category trail, root first

    bool ended(const QDateTime &now) const { return now >= end; }
    // The winner once ended: the highest bidder if the reserve was met.
    QString winner(const QDateTime &now) const;
    qint32 unit() const;
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
        Http500
    };
    QString host = QStringLiteral("*");
    QString path = QStringLiteral("*");
    Kind kind = Latency;
    int ms = 0;     // added latency
    int count = -1; // how many requests it hits; -1 all
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
    bool halfWidthLabels = false; // write the page labels in half-width katakana
    bool showSeconds = true;      // end times with seconds
    QList<Bidder> bidders;
    QList<Item> items;
    QList<Fault> faults;

    // Item end times in the file are seconds after `start`.
    static std::optional<Scenario> fromJson(const QByteArray &json, const QDateTime &start,
                                            QString *error);
    Item *item(const QString &id);
    const Bidder *bidder(const QString &id) const;
};

// The site's bid unit for a price.
qint32 siteBidUnit(qint32 price);

} // namespace sim
