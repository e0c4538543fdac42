#include "frmoverview.h"

#include "armedbid.h"
#include "armedbids.h"
#include "autobid.h"
#include "clock.h"
#include "siteclock.h"

#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace sw {

namespace {
const QStringList kHeaders = {QStringLiteral("品名"),     QStringLiteral("終了日時"),
                              QStringLiteral("残り時間"), QStringLiteral("上限価格"),
                              QStringLiteral("現在価格"), QStringLiteral("最高額入札者"),
                              QStringLiteral("状態"),     QStringLiteral("結果")};
} // namespace

QString timeLeftText(const QDateTime &now, const QDateTime &end)
{
    if (!end.isValid())
        return QStringLiteral("不明");
    const qint64 secs = now.secsTo(end);
    if (secs <= 0)
        return QStringLiteral("終了");
    const qint64 days = secs / 86400;
    const QString clock = QStringLiteral("%1:%2:%3")
                              .arg((secs / 3600) % 24, 2, 10, QLatin1Char('0'))
                              .arg((secs / 60) % 60, 2, 10, QLatin1Char('0'))
                              .arg(secs % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("残り ") +
           (days > 0 ? QString::number(days) + QStringLiteral("日 ") : QString()) + clock;
}

QString siteUnreachableMessage()
{
    return QStringLiteral("ヤフオク!に接続できません。接続を確認してください｡");
}

QString siteUnreachableText(const ArmedBids &bids)
{
    for (const ArmedBid *b : bids.all()) {
        if (b->siteUnreachable())
            return siteUnreachableMessage();
    }
    return {};
}

QList<ArmedBid *> frmOverview::shownBids(const ArmedBids &bids)
{
    QList<ArmedBid *> out;
    for (ArmedBid *b : bids.all()) {
        if (b->deleted() || b->dismissed())
            continue;
        if (b->armed() || !b->lastResult().isEmpty() || !b->verdict().isEmpty())
            out << b;
    }
    std::stable_sort(out.begin(), out.end(), [](const ArmedBid *a, const ArmedBid *b) {
        return a->endTime() < b->endTime();
    });
    return out;
}

frmOverview::frmOverview(ArmedBids &bids, QWidget *parent)
    : QWidget(parent), m_bids(bids), m_status(new QLabel(this)),
      m_grid(new QTableWidget(0, int(kHeaders.size()), this)), m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("frmOverview"));
    setWindowTitle(QStringLiteral("入札予定一覧"));
    m_status->setObjectName(QStringLiteral("lblSite"));
    m_status->setStyleSheet(QStringLiteral("color: #b00000;"));
    m_status->setVisible(false);
    m_grid->setObjectName(QStringLiteral("grdOverview"));
    m_grid->setAccessibleName(windowTitle());
    QStringList headers = kHeaders;
    headers[1] += siteZoneNote(); // the site's times, away from Japan too
    m_grid->setHorizontalHeaderLabels(headers);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->verticalHeader()->setVisible(false);
    m_grid->horizontalHeader()->setStretchLastSection(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_status);
    layout->addWidget(m_grid);
    resize(1180, 260);

    connect(m_grid, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        if (row >= 0 && row < m_ids.size())
            emit openRequested(m_ids.at(row));
    });
    m_grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_grid, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        const int row = m_grid->rowAt(at.y());
        if (row < 0 || row >= m_ids.size())
            return;
        const int id = m_ids.at(row);
        auto *menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(QStringLiteral("入札画面"), this, [this, id] { emit openRequested(id); });
        menu->addAction(QStringLiteral("この商品のログ"), this,
                        [this, id] { emit logRequested(id); });
        menu->addSeparator();
        menu->addAction(QStringLiteral("終了した入札を一覧から消す"), this,
                        [this] { m_bids.dismissFinished(); });
        menu->popup(m_grid->viewport()->mapToGlobal(at));
    });
    connect(&m_bids, &ArmedBids::bidChanged, this, &frmOverview::refresh);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &frmOverview::refresh);
    m_timer->start();
    refresh();
}

QSize frmOverview::sizeHint() const
{
    int width = 2 * m_grid->frameWidth() + 24;
    for (int c = 0; c < m_grid->columnCount(); ++c)
        width += qMax(m_grid->columnWidth(c), m_grid->horizontalHeader()->sectionSizeHint(c));
    return QSize(width, 320);
}

void frmOverview::refresh()
{
    const QList<ArmedBid *> rows = shownBids(m_bids);
    const QDateTime now = sw::now();
    const int shownBefore = m_grid->rowCount();
    bool widen = false;
    m_grid->setRowCount(int(rows.size()));
    m_ids.clear();
    for (int r = 0; r < rows.size(); ++r) {
        const ArmedBid *b = rows[r];
        const ItemRecord &it = b->item();
        m_ids << b->id();
        const QString bidder = b->leaderText();
        const QStringList cells = {
            it.itemid + QStringLiteral(" ") + it.Itemname,
            it.enddate.isValid() ? inSiteZone(it.enddate).toString(QStringLiteral("MM/dd HH:mm:ss"))
                                 : QStringLiteral("不明"),
            it.fin ? QStringLiteral("終了") : timeLeftText(now, it.enddate),
            formatYen(it.ItemYen) + QStringLiteral("円"),
            formatYen(it.ItemYenNow) + QStringLiteral("円"),
            bidder,
            ArmedBid::stateText(b->state()),
            b->verdict().isEmpty() ? b->lastResult() : b->verdict(),
        };
        for (int c = 0; c < cells.size(); ++c) {
            QTableWidgetItem *cell = m_grid->item(r, c);
            if (!cell) {
                cell = new QTableWidgetItem;
                m_grid->setItem(r, c, cell);
            }
            if (cell->text() != cells[c]) {
                cell->setText(cells[c]);
                cell->setToolTip(cells[c]); // a long reason is read in full here
                if (c != 2)
                    widen = true; // the countdown alone never changes the widths
            }
        }
    }
    if (widen || rows.size() != shownBefore)
        m_grid->resizeColumnsToContents();
    const QString unreachable = siteUnreachableText(m_bids);
    m_status->setText(unreachable);
    m_status->setVisible(!unreachable.isEmpty());
}

} // namespace sw
