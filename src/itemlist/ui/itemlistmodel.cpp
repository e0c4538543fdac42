#include "itemlistmodel.h"

#include "autobid.h"
#include "itemreading.h"
#include "siteclock.h"

namespace sw {

namespace {
const char *const kHeaders[] = {"入札個数", "CNO",          "品名",   "終了日",   "現在価格",
                                "入札額",   "最高額入札者", "出品者", "終了時刻", "状態"};
} // namespace

QString ItemListModel::yen(qint64 amount)
{
    return QStringLiteral("¥") + formatYen(amount);
}

void ItemListModel::setRows(QList<ItemRecord> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int ItemListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ItemListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant ItemListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const ItemRecord &r = m_rows.at(index.row());
    if (role == Qt::TextAlignmentRole && (index.column() == 4 || index.column() == 5))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case 0:
        return QString::number(r.Numkai);
    case 1:
        return r.cat;
    case 2:
        return r.Itemname;
    case 3:
        // The site's calendar day, whatever this machine's zone.
        return inSiteZone(r.enddate).toString(QStringLiteral("yyyy/MM/dd"));
    case 4:
        return yen(r.ItemYenNow);
    case 5:
        return yen(r.ItemYen);
    case 6:
        return leaderText(r.SaikougakuShaid);
    case 7:
        return r.ShuppinShaID;
    case 8:
        return r.enddate.isValid() ? inSiteZone(r.enddate).toString(QStringLiteral("HH:mm:ss"))
                                   : QString();
    case 9:
        return m_state ? m_state(r) : QString();
    }
    return {};
}

QVariant ItemListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < kColumns) {
        const QString header = QString::fromUtf8(kHeaders[section]);
        // The site's times, whatever zone this machine is in: said so away from Japan.
        return section == 3 || section == 8 ? header + siteZoneNote() : header;
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

} // namespace sw
