#pragma once

#include "itemrecord.h"

#include <QAbstractTableModel>
#include <QList>

#include <functional>

namespace sw {

// The rows of the item list over tblYo, in the order of the query: the eight columns of
// the table, then the end's time of day (Japan time) and where the item's bid stands.
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
    // The bid's state for a row (empty: nothing to say); the list's bids answer it.
    void setStateSource(std::function<QString(const ItemRecord &)> source)
    {
        m_state = std::move(source);
    }
    static constexpr int kColumns = 10;

private:
    QList<ItemRecord> m_rows;
    std::function<QString(const ItemRecord &)> m_state;
};

} // namespace sw
