#pragma once

#include <QWidget>

class QSqlQueryModel;
class QTableView;
class QToolBar;

namespace sw {

class ActivityLog;

// The log window: every entry of the activity log, newest first, kept current while
// open. "del" deletes everything without asking.
class frmLog : public QWidget
{
    Q_OBJECT
public:
    explicit frmLog(ActivityLog &log, QWidget *parent = nullptr);

    void refresh();
    void deleteAll();
    QTableView *grid() const { return m_grid; }

private:
    ActivityLog &m_log;
    QToolBar *m_toolbar;
    QSqlQueryModel *m_model;
    QTableView *m_grid;
};

} // namespace sw
