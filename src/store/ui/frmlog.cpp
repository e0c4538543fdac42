#include "frmlog.h"

#include "activitylog.h"
#include "database.h"
#include "siteclock.h"

#include <QHeaderView>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

namespace sw {

frmLog::frmLog(ActivityLog &log, QWidget *parent, const QString &itemid)
    : QWidget(parent), m_log(log), m_toolbar(new QToolBar(this)), m_model(new QSqlQueryModel(this)),
      m_grid(new QTableView(this)), m_itemid(itemid)
{
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(QStringLiteral("ログ"));
    m_toolbar->setObjectName(QStringLiteral("Toolbar1"));
    QAction *del = m_toolbar->addAction(QStringLiteral("del"));
    del->setObjectName(QStringLiteral("del"));
    del->setToolTip(m_itemid.isEmpty() ? QStringLiteral("全てのログを削除")
                                       : QStringLiteral("この商品のログを削除"));
    m_model->setObjectName(QStringLiteral("Adodc2"));
    m_grid->setObjectName(QStringLiteral("DataGrid2"));
    m_grid->setModel(m_model);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->verticalHeader()->setVisible(false);
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_grid->setWordWrap(true);
    m_grid->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolbar);
    layout->addWidget(m_grid);

    connect(del, &QAction::triggered, this, &frmLog::deleteAll);
    connect(&m_log, &ActivityLog::appended, this, &frmLog::refresh);
    connect(&m_log, &ActivityLog::cleared, this, &frmLog::refresh);
    refresh();
    m_grid->setColumnWidth(0, 150);
    resize(600, 300);
}

void frmLog::refresh()
{
    QSqlQuery q(m_log.database().connection());
    const QString columns = QStringLiteral("SELECT replace(tDate, '-', '/') AS tDate, Memo FROM "
                                           "tblLog ");
    if (m_itemid.isEmpty()) {
        q.exec(columns + QStringLiteral("ORDER BY ID DESC"));
    } else {
        q.prepare(columns + QStringLiteral("WHERE instr(Memo, ?) > 0 ORDER BY ID DESC"));
        q.addBindValue(m_itemid);
        q.exec();
    }
    m_model->setQuery(std::move(q));
    m_model->setHeaderData(0, Qt::Horizontal, QString(QStringLiteral("tDate") + siteZoneNote()));
    m_model->setHeaderData(1, Qt::Horizontal, QStringLiteral("Memo"));
}

void frmLog::deleteAll()
{
    const QString question =
        m_itemid.isEmpty()
            ? QStringLiteral("ログを全て削除しますか？削除したログは元に戻せません。")
            : QStringLiteral("この商品（") + m_itemid +
                  QStringLiteral("）のログを削除しますか？削除したログは元に戻せません。");
    if (!m_confirm || !m_confirm(question))
        return;
    m_toolbar->setEnabled(false);
    m_model->clear(); // let go of the open read before deleting
    if (m_itemid.isEmpty())
        m_log.clear();
    else
        m_log.clearItem(m_itemid);
    refresh();
    m_toolbar->setEnabled(true);
}

} // namespace sw
