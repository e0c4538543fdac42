#pragma once

#include <QWidget>

#include <functional>

class QSqlQueryModel;
class QTableView;
class QToolBar;

namespace sw {

class ActivityLog;

// The log window: every entry of the activity log, newest first, kept current while
// open, dates as yyyy/MM/dd hh:mm:ss and entries of several lines in full. "del" deletes
// everything without asking. With an item id, only the entries naming that item.
class frmLog : public QWidget
{
    Q_OBJECT
public:
    explicit frmLog(ActivityLog &log, QWidget *parent = nullptr, const QString &itemid = {});

    void refresh();
    // del: asks first (the log is the only record of what was bid and why); in one item's
    // window it deletes that item's lines only.
    void deleteAll();
    // Asks the user; without it nothing is ever deleted.
    void setConfirm(std::function<bool(const QString &question)> confirm)
    {
        m_confirm = std::move(confirm);
    }
    QTableView *grid() const { return m_grid; }

private:
    ActivityLog &m_log;
    QToolBar *m_toolbar;
    QSqlQueryModel *m_model;
    QTableView *m_grid;
    QString m_itemid;
    std::function<bool(const QString &)> m_confirm;
};

} // namespace sw
