#pragma once

#include <QWidget>

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
    void deleteAll();
    QTableView *grid() const { return m_grid; }

private:
    ActivityLog &m_log;
    QToolBar *m_toolbar;
    QSqlQueryModel *m_model;
    QTableView *m_grid;
    QString m_itemid;
};

} // namespace sw
