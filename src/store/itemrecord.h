#pragma once

#include <QDateTime>
#include <QString>

namespace sw {

// Follow-up states of an item, in the order of the bid window's option buttons.
enum ItemStatus
{
    Watching = 0,
    Won = 1,
    Contacted = 2,
    Arrived = 3,
    Rated = 4
};

// One row of tblYo.
struct ItemRecord
{
    int id = 0;
    QString itemid;
    QString Itemname;
    QString Serverid;
    qint64 ItemYenNow = 0;
    QString SaikougakuShaid;
    QDateTime enddate;
    QString ShuppinShaID;
    qint64 ItemYenKibou = 0;
    qint64 NumUri = 0;
    qint64 NumNyuusatu = 0;
    qint64 ItemYenStart = 0;
    qint64 ItemYenUnit = 0;
    bool Flagsaitei = false;
    bool Flagjidouencho = false;
    QString cat = QStringLiteral("0");
    qint64 ItemYen = 0;
    qint32 Numkai = 0;
    int status = Watching;
    bool fin = false;
    // Beyond the classic columns.
    int SiteGen = 0;         // which page the item was read from: see SiteGenColumn
    qint64 ItemYenTaxin = 0; // the price with tax where it differs (a store's item); 0 none
    bool EarlyEnd = false;   // the seller may end the auction early
    QString CatPath;         // the site's category path, "a > b > c"
    QString SellerKey;       // the site's own opaque seller id (today's seller page)
    QString Verdict;         // the bid's verdict once the auction is over, until cleared
};

// What SiteGen holds: the classic page (or nothing read yet), today's page, or today's
// listing row only (its page still to be read for the rest).
enum SiteGenColumn
{
    ClassicPage = 0,
    TodayPage = 1,
    TodayListing = 2,
};

// Takes over what only today's item page gives (the columns ItemDatabase::saveSiteColumns
// writes) from a reading of it.
inline void takeSiteColumns(ItemRecord &to, const ItemRecord &site)
{
    to.Itemname = site.Itemname;
    to.ShuppinShaID = site.ShuppinShaID;
    to.NumUri = site.NumUri;
    to.ItemYenKibou = site.ItemYenKibou;
    to.ItemYenStart = site.ItemYenStart;
    to.Flagjidouencho = site.Flagjidouencho;
    to.EarlyEnd = site.EarlyEnd;
    to.ItemYenTaxin = site.ItemYenTaxin;
    to.CatPath = site.CatPath;
    to.SellerKey = site.SellerKey;
    to.SiteGen = TodayPage;
}

} // namespace sw
