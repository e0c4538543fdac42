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
};

} // namespace sw
