#pragma once

#include "itemrecord.h"

#include <QAbstractTableModel>
#include <QList>

namespace sw {

// The rows of the item list: eight columns over tblYo, in the order of the query.
class ItemListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRows(QList<ItemRecord> rows);
    const ItemRecord &row(int r) const { return m_rows.at(r); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // ¥1,500
    static QString yen(qint64 amount);

private:
    QList<ItemRecord> m_rows;
};

} // namespace sw
