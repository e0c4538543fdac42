#pragma once

#include <QDateTime>
#include <QString>
#include <QWidget>

class QLabel;
class QTableWidget;
class QTimer;

namespace sw {

class ArmedBid;
class ArmedBids;

// "残り 1日 02:03:04", "残り 00:00:07", or "終了" once the end has passed; never negative.
QString timeLeftText(const QDateTime &now, const QDateTime &end);
// The reason the site cannot be reached, taken from the bids' failed readings; empty while
// every reading succeeds.
QString siteUnreachableText(const ArmedBids &bids);
// What the user is told when the site cannot be reached.
QString siteUnreachableMessage();

// 入札予定一覧: every item armed for a bid or with something to tell about its bid, sorted by
// its end, with the time left counting down each second, the prices, who leads, the bid's
// state and its last result. A double click opens the item's bid window; the row's menu
// (right button) opens the bid window or the item's log.
class frmOverview : public QWidget
{
    Q_OBJECT
public:
    explicit frmOverview(ArmedBids &bids, QWidget *parent = nullptr);

    QTableWidget *grid() const { return m_grid; }
    // Wide enough for every column.
    QSize sizeHint() const override;
    QLabel *siteStatus() const { return m_status; }
    // The rows again from the bids (also every second while shown).
    void refresh();
    // Which bids have a row, in row order.
    QList<int> rowIds() const { return m_ids; }
    static QList<ArmedBid *> shownBids(const ArmedBids &bids);

signals:
    void openRequested(int id);
    void logRequested(int id); // この商品のログ, from the row's menu

private:
    ArmedBids &m_bids;
    QLabel *m_status;
    QTableWidget *m_grid;
    QTimer *m_timer;
    QList<int> m_ids;
};

} // namespace sw
