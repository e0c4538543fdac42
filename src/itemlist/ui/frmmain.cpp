#include "frmmain.h"

#include "activitylog.h"
#include "appvalues.h"
#include "armedbid.h"
#include "armedbids.h"
#include "bidhost.h"
#include "bidwindows.h"
#include "bulkrefresh.h"
#include "categories.h"
#include "clock.h"
#include "cookiejar.h"
#include "database.h"
#include "dialog1.h"
#include "frmcat.h"
#include "frmsw.h"
#include "handedover.h"
#include "itemlistmodel.h"
#include "itemparser.h"
#include "itemreading.h"
#include "pagefetcher.h"
#include "prompter.h"
#include "settingsstore.h"
#include "sitehosts.h"
#include "watchlistimport.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace sw {

namespace {
const QString kBadAddress =
    QStringLiteral("この商品の商品IDかサーバー番号が正しくないので、ページを開けません。");
}

namespace {
struct ToolButton
{
    const char *key;
    const char *tip;
    const char *text;
};
const ToolButton kButtons[] = {
    {"ie", "このヤフーオークションを見る", "HP"},
    {"sw", "商品詳細(入札)", "入札"},
    {nullptr, nullptr, nullptr},
    {"get", "ウォッチリストから取り込みます", "取込"},
    {"add", "商品のアドレスかオークションIDで追加します", "追加"},
    {"reload", "商品リストを更新します", "更新"},
    {"del", "商品ﾘｽﾄから削除します", "削除"},
    {nullptr, nullptr, nullptr},
    {"settings", "設定", "設定"},
};
const char *const kFilterTips[] = {"開催中の商品だけを表示します。",
                                   "金額と入札個数を設定している商品だけを表示します。",
                                   "落札した商品全てを表示します。"};
const char *const kFilterTexts[] = {"開催中", "設定済", "落札"};
constexpr int kEditorPosition = 11;
} // namespace

frmMain::frmMain(AppContext &ctx, BidWindows &windows, QWidget *parent)
    : QWidget(parent), m_ctx(ctx), m_windows(windows), m_model(new ItemListModel(this)),
      m_grid(new QTableView(this)), m_toolbar(new QToolBar(this)), m_cmbCAT(new QComboBox(this)),
      m_adodc1(new QLabel(this))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("商品ﾘｽﾄ"));
    m_toolbar->setObjectName(QStringLiteral("Toolbar1"));
    for (const ToolButton &b : kButtons) {
        if (!b.key) {
            m_toolbar->addSeparator();
            continue;
        }
        QAction *a = m_toolbar->addAction(QString::fromUtf8(b.text));
        a->setObjectName(QString::fromLatin1(b.key));
        a->setToolTip(QString::fromUtf8(b.tip));
        const QString key = QString::fromLatin1(b.key);
        connect(a, &QAction::triggered, this, [this, key] { toolbarClicked(key); });
    }
    auto *filters = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        m_chkOpen[i] = new QToolButton(this);
        m_chkOpen[i]->setObjectName(QStringLiteral("chkOpen_") + QString::number(i));
        m_chkOpen[i]->setCheckable(true);
        m_chkOpen[i]->setText(QString::fromUtf8(kFilterTexts[i]));
        m_chkOpen[i]->setToolTip(QString::fromUtf8(kFilterTips[i]));
        connect(m_chkOpen[i], &QToolButton::clicked, this, [this] { ReSql(); });
        filters->addWidget(m_chkOpen[i]);
    }
    m_cmbCAT->setObjectName(QStringLiteral("cmbCAT"));
    filters->addWidget(m_cmbCAT);
    m_adodc1->setObjectName(QStringLiteral("Adodc1"));
    filters->addWidget(m_adodc1, 1);
    auto *top = new QHBoxLayout;
    top->addWidget(m_toolbar);
    top->addLayout(filters, 1);

    m_grid->setObjectName(QStringLiteral("DataGrid1"));
    m_grid->setModel(m_model);
    m_model->setStateSource([this](const ItemRecord &r) -> QString {
        const QString own = m_ctx.values.ownId;
        // An item handed to the service is the service's, whatever this program held of it.
        if (!r.fin && isHandedOver(m_ctx.settings, r.itemid))
            return QStringLiteral("サービス");
        // A bid the program holds says what the overview says, also once it is over.
        if (const ArmedBid *b = m_windows.armedBids().find(r.id); b && !b->deleted())
            return ArmedBid::stateText(b->state());
        if (r.fin)
            return r.status == Won || sameMember(r.SaikougakuShaid, own) ? QStringLiteral("落札")
                                                                         : QStringLiteral("終了");
        return r.Numkai > 0 && r.ItemYen > 0 ? QStringLiteral("予定") : QString();
    });
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 6);
    const int widths[] = {53, 33, 400, 113, 85, 85, 133, 133}; // the design's twips / 15
    for (int c = 0; c < 8; ++c)
        m_grid->setColumnWidth(c, widths[c]);
    m_grid->installEventFilter(this);
    m_grid->viewport()->installEventFilter(this);
    connect(m_grid, &QTableView::doubleClicked, this, [this] {
        if (m_ctx.settings.getBool(QStringLiteral("Settings"), QStringLiteral("ClickHP"), false))
            mnuGoHP();
        else
            mnuGoFrmSw();
    });
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &frmMain::updateTimeLeft);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(m_grid);

    // Load: the first query runs with the selector on すべて; the fetcher follows Proxy.
    m_fetcher = new PageFetcher(&m_ctx.cookies, m_ctx.log, m_ctx.prompter);
    configureFetcher(*m_fetcher, m_ctx.settings, true, m_ctx.prompter);
    rebuildCategories();
    connect(m_cmbCAT, &QComboBox::activated, this, &frmMain::onCategoryChosen);
    connect(&m_windows, &BidWindows::itemsChanged, this, &frmMain::myRefresh);
    connect(&m_ctx.parser, &ItemPageParser::itemsChanged, this, &frmMain::myRefresh);
    ReSql();
    resize(900, 400);
}

frmMain::~frmMain()
{
    m_alive.reset();
    delete m_fetcher;
}

void frmMain::rebuildCategories()
{
    const QSignalBlocker block(m_cmbCAT);
    m_cmbCAT->clear();
    m_cmbCAT->addItems(m_ctx.categories.listSelectorEntries());
    m_cmbCAT->setCurrentIndex(0);
}

void frmMain::onCategoryChosen(int index)
{
    if (index == kEditorPosition) {
        frmCAT editor(m_ctx.categories, m_ctx.prompter, this);
        editor.exec();
        rebuildCategories();
        const QSignalBlocker block(m_cmbCAT);
        m_cmbCAT->setCurrentIndex(m_shownCat);
        emit categoryNamesChanged();
    }
    ReSql();
}

int frmMain::currentRow() const
{
    return m_grid->currentIndex().isValid() ? m_grid->currentIndex().row() : -1;
}

std::optional<ItemRecord> frmMain::current() const
{
    const int r = currentRow();
    if (r < 0 || r >= m_model->rowCount())
        return std::nullopt;
    return m_model->row(r);
}

void frmMain::ReSql()
{
    if (m_busy)
        return;
    m_busy = true;
    std::optional<QList<ItemRecord>> rows;
    if (m_chkOpen[2]->isChecked() && !m_wonView) {
        m_wonView = true;
        m_saved0 = m_chkOpen[0]->isChecked();
        m_saved1 = m_chkOpen[1]->isChecked();
        m_savedCat = m_cmbCAT->currentIndex();
        m_chkOpen[0]->setChecked(false);
        m_chkOpen[1]->setChecked(false);
        const QSignalBlocker block(m_cmbCAT);
        m_cmbCAT->setCurrentIndex(0);
        rows = m_ctx.db.wonItems(m_ctx.values.ownId);
    } else {
        if (m_wonView && !m_chkOpen[2]->isChecked()) {
            m_chkOpen[0]->setChecked(m_saved0);
            m_chkOpen[1]->setChecked(m_saved1);
            const QSignalBlocker block(m_cmbCAT);
            m_cmbCAT->setCurrentIndex(m_savedCat);
        } else {
            m_chkOpen[2]->setChecked(false);
        }
        m_wonView = false;
        ItemDatabase::ListFilter f;
        const int p = m_cmbCAT->currentIndex();
        if (p > 0 && p < kEditorPosition)
            f.cat = QString::number(p - 1);
        f.runningOnly = m_chkOpen[0]->isChecked();
        f.withLimitOnly = m_chkOpen[1]->isChecked();
        rows = m_ctx.db.listItems(f, sw::now());
    }
    if (!rows)
        m_ctx.log.LOGTodb(QStringLiteral("商品ﾘｽﾄを読めません：") + m_ctx.db.lastError());
    m_model->setRows(rows.value_or(QList<ItemRecord>{}));
    // The keys and the buttons act on the current row: there is always one while the list
    // shows rows.
    if (m_model->rowCount() > 0 && !m_grid->currentIndex().isValid())
        m_grid->setCurrentIndex(m_model->index(0, 0));
    if (m_cmbCAT->currentIndex() != kEditorPosition)
        m_shownCat = m_cmbCAT->currentIndex();
    myRefreshToolbar();
    m_busy = false;
}

void frmMain::selectRow(int r)
{
    const int count = m_model->rowCount();
    if (r >= count)
        r = count - 1;
    if (r >= 0)
        m_grid->setCurrentIndex(m_model->index(r, qMax(0, m_grid->currentIndex().column())));
}

void frmMain::myRefresh()
{
    const int r = currentRow();
    const bool wasBusy = m_busy;
    ReSql();
    if (!wasBusy)
        selectRow(r);
    myRefreshToolbar();
}

void frmMain::myRefreshToolbar()
{
    const bool any = m_model->rowCount() > 0;
    for (const char *key : {"ie", "sw", "reload", "del"}) {
        if (QAction *a = m_toolbar->findChild<QAction *>(QString::fromLatin1(key)))
            a->setEnabled(any);
    }
}

bool frmMain::RecChkOk()
{
    if (current())
        return true;
    m_ctx.prompter.message(QStringLiteral("レコードがありません"));
    return false;
}

void frmMain::SetCat(int cat)
{
    const std::optional<ItemRecord> item = current();
    if (!item)
        return;
    const int r = currentRow();
    // Through the bids' owner: an armed item bids with the category the user set.
    QString error;
    if (!m_windows.host().setCategory(item->id, QString::number(cat), &error))
        m_ctx.prompter.message(error);
    ReSql();
    selectRow(r);
}

void frmMain::mnudelrec()
{
    const std::optional<ItemRecord> item = current();
    if (!item)
        return;
    const int r = currentRow();
    // An armed item's bid stops before the row goes, and the log says so.
    QString error;
    if (!m_windows.host().deleteItem(item->id, &error))
        m_ctx.prompter.message(error);
    ReSql();
    selectRow(r);
    myRefreshToolbar();
}

void frmMain::mnuGoFrmSw()
{
    if (m_model->rowCount() == 0 || !RecChkOk())
        return;
    const int id = current()->id;
    if (frmSw *open = m_windows.find(id)) {
        open->present();
        return;
    }
    // The list's own window moves from item to item, but never away from an item whose
    // bid is armed: that one keeps its window and the list gets a new one.
    const ArmedBid *shown = m_ownSw ? m_windows.armedBids().find(m_ownSw->id()) : nullptr;
    if (!m_ownSw || (shown && shown->armed() && !shown->finished())) {
        m_ownSw = m_windows.open(id);
        return;
    }
    m_ownSw->setId(id);
    m_ownSw->present();
}

void frmMain::mnuGoHP()
{
    const std::optional<ItemRecord> item = current();
    if (!item) {
        emit pageRequested(m_ctx.hosts.statusPage(), QStringLiteral(","));
        return;
    }
    const QString address = m_ctx.hosts.itemPage(item->Serverid, item->itemid);
    if (address.isEmpty()) {
        m_ctx.prompter.message(kBadAddress);
        return;
    }
    emit pageRequested(address, item->Itemname);
}

void frmMain::mnuItemLog()
{
    if (const std::optional<ItemRecord> item = current())
        emit itemLogRequested(item->itemid, item->Itemname);
}

void frmMain::showUncategorised()
{
    {
        const QSignalBlocker block(m_cmbCAT);
        m_cmbCAT->setCurrentIndex(1);
    }
    myRefresh();
}

QCoro::Task<> frmMain::mnuGetWatchList()
{
    const std::weak_ptr<int> alive = m_alive;
    m_ctx.values.StopFlag = false;
    m_toolbar->setEnabled(false);
    for (QToolButton *b : m_chkOpen)
        b->setChecked(false);
    m_wonView = false; // the imported items show under 未分類, not the filters of before
    {
        const QSignalBlocker block(m_cmbCAT);
        m_cmbCAT->setCurrentIndex(1);
    }
    ReSql();
    AppValues &values = m_ctx.values;
    // A named context, not a braced temporary: g++ 12 may destroy a temporary argument of
    // a coroutine call inside co_await twice.
    WatchListContext run{*m_fetcher,
                         m_ctx.parser,
                         m_ctx.hosts,
                         alive,
                         [&values] { return values.StopFlag; },
                         [this] { emit browserLoginRequested(); },
                         [this](const QString &line) { m_ctx.log.LOGTodb(line); }};
    const WatchListResult result = co_await ImportWatchList(run);
    if (alive.expired())
        co_return;
    ReSql();
    m_toolbar->setEnabled(true);
    if (result.end == WatchListResult::ListFetchFailed)
        m_ctx.prompter.message(watchListUnreadText());
    else if (result.end == WatchListResult::ItemFetchFailed)
        m_ctx.prompter.message(watchListStoppedText(result.stored));
    if (result.storeFailures > 0)
        m_ctx.prompter.message(ItemPageParser::storeFailuresText(result.storeFailures));
}

QCoro::Task<> frmMain::mnuUpdateRec()
{
    const std::weak_ptr<int> alive = m_alive;
    m_ctx.values.StopFlag = false;
    AppValues &values = m_ctx.values;
    BidWindows &windows = m_windows;
    BulkRefreshContext run{
        *m_fetcher,
        m_ctx.db,
        m_ctx.log,
        m_ctx.hosts,
        m_ctx.values.ownId,
        alive,
        [&values] { return values.StopFlag; },
        [&windows](const QString &report) {
            windows.dialog()->setText(report);
            windows.dialog()->showModeless();
        },
        [&windows](int id, const ItemState &s) { return windows.host().takeReading(id, s); },
        [&windows](int id) {
            if (frmSw *w = windows.find(id)) {
                w->setId(id);
                w->window()->show();
            }
        }};
    co_await BulkRefresh(run);
    if (alive.expired())
        co_return;
    myRefresh();
}

void frmMain::toolbarClicked(const QString &key)
{
    m_ctx.values.StopFlag = false;
    if (key == QLatin1String("ie"))
        mnuGoHP();
    else if (key == QLatin1String("sw"))
        mnuGoFrmSw();
    else if (key == QLatin1String("get"))
        emit watchListRequested();
    else if (key == QLatin1String("add"))
        emit addItemRequested();
    else if (key == QLatin1String("reload"))
        emit reloadRequested();
    else if (key == QLatin1String("del"))
        mnudelrec();
    else if (key == QLatin1String("settings"))
        emit settingsRequested();
}

void frmMain::updateTimeLeft()
{
    if (const std::optional<ItemRecord> item = current(); item && item->enddate.isValid())
        m_adodc1->setText(timeLeftCaption(sw::now(), item->enddate));
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    // The keys act on the press, before the grid's type-ahead search could move the current
    // row away from the one the user chose; the grid never sees them.
    if (watched == m_grid && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        const int k = key->key();
        const bool ours = k == Qt::Key_S || k == Qt::Key_Escape || k == Qt::Key_Delete ||
                          (k >= Qt::Key_1 && k <= Qt::Key_9);
        if (!ours)
            return false;
        if (key->isAutoRepeat())
            return true;
        if (k == Qt::Key_S) {
            mnuGoFrmSw();
        } else if (k == Qt::Key_Escape) {
            m_ctx.values.StopFlag = true;
        } else if (m_model->rowCount() != 0) {
            if (k == Qt::Key_Delete)
                mnudelrec();
            else
                SetCat(k - Qt::Key_0);
        }
        myRefreshToolbar();
        return true;
    }
    if (watched == m_grid->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton)
            emit popupRequested(mouse->globalPosition().toPoint());
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    m_ctx.values.StopFlag = true;
    QWidget::closeEvent(event);
}

} // namespace sw
