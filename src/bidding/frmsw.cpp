#include "frmsw.h"

#include "activitylog.h"
#include "appvalues.h"
#include "bidexchange.h"
#include "bidwindows.h"
#include "categories.h"
#include "clock.h"
#include "clockprobe.h"
#include "cookiejar.h"
#include "database.h"
#include "dialog1.h"
#include "frmcat.h"
#include "itemparser.h"
#include "pagefetcher.h"
#include "prompter.h"
#include "proxyconfig.h"
#include "settingsstore.h"
#include "siteclock.h"
#include "sitehosts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace sw {

namespace {
const QString kSettings = QStringLiteral("Settings");
const char *const kStatusCaptions[] = {"様子見", "落札", "連絡", "商品到着", "評価"};
const char *const kYenCaptions[] = {"現在価格：", "希望落札価格：", "開始価格：", "入札単位：",
                                    "数量：",     "最高額入札者：", "入札件数：", "出品者："};
const QString kRunning = QStringLiteral("入札（開催中）");
const QString kEnded = QStringLiteral("入札（終了）");
constexpr int kAfterBidMs = 300;
constexpr int kProbeBeforeSec = 120;

int twipsToPixels(int twips, const QWidget *w)
{
    return twips * w->logicalDpiX() / 1440;
}
} // namespace

frmSw::frmSw(AppContext &ctx, BidWindows &windows, QWidget *parent)
    : QWidget(parent), m_ctx(ctx), m_windows(windows), m_registry(&windows)
{
    setObjectName(QStringLiteral("frmSw"));
    setWindowTitle(QStringLiteral("入札"));
    build();

    // Opening: refresh interval, categories, window mode, the fetcher and its proxy.
    const int minutes = m_ctx.settings.getInt(kSettings, QStringLiteral("accesskankaku"), 1);
    m_refreshIntervalSec = minutes < 1 ? 60 : minutes * 60;
    m_ctx.values.refreshIntervalSec = m_refreshIntervalSec;
    m_lastRefresh = sw::now();
    m_winmode = m_ctx.settings.get(kSettings, QStringLiteral("min"), QStringLiteral("0")) ==
                        QLatin1String("1")
                    ? 1
                    : 0;
    m_fetcher = new PageFetcher(&m_ctx.cookies, m_ctx.log, m_ctx.prompter);
    // The scheduler opens bid windows from its timer: a bad proxy setting is written to the
    // log rather than shown in a box that would hold the tick until someone answers it.
    configureFetcher(*m_fetcher, m_ctx.settings, false, m_ctx.prompter);
    if (!m_fetcher->applyProxySetting(
            m_ctx.settings.get(kSettings, QStringLiteral("Proxy"), QString())))
        m_ctx.log.LOGTodb(invalidProxyMessage());
    connect(this, &frmSw::itemsChanged, &m_windows, &BidWindows::itemChanged);

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(1000);
    m_timer1->setTimerType(Qt::PreciseTimer);
    connect(m_timer1, &QTimer::timeout, this, &frmSw::Timer1_Timer);
    // Ticks fall half-way between two seconds of the site's clock: bid times are whole
    // seconds, and at that moment no window should be busy with its countdown or repaint.
    const int toHalf = int((1500 - sw::nowMs() % 1000) % 1000);
    QTimer::singleShot(toHalf, Qt::PreciseTimer, this, [this] {
        m_timer1->start();
        Timer1_Timer();
    });
}

frmSw::~frmSw()
{
    // Coroutines of this window see the token expire before anything of it goes away;
    // deleting the fetcher ends their transfers.
    m_alive.reset();
    unplanBid(this);
    delete m_fetcher;
    releaseClosedBids();
    if (m_registry)
        m_windows.unregisterWindow(this);
}

void frmSw::build()
{
    auto *details = new QGroupBox(QStringLiteral("商品情報"), this);
    m_details = details;
    auto *grid = new QGridLayout(details);
    for (int i = 0; i < 8; ++i) {
        auto *caption = new QLabel(QString::fromUtf8(kYenCaptions[i]), details);
        m_lblItemYen[i] = new QLabel(details);
        m_lblItemYen[i]->setObjectName(QStringLiteral("lblItemYen_") + QString::number(i));
        m_lblItemYen[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(caption, i / 2, (i % 2) * 2);
        grid->addWidget(m_lblItemYen[i], i / 2, (i % 2) * 2 + 1);
    }
    grid->addWidget(new QLabel(QStringLiteral("終了時刻："), details), 4, 0);
    m_lblEndTime = new QLabel(details);
    m_lblEndTime->setObjectName(QStringLiteral("lblEndTime"));
    grid->addWidget(m_lblEndTime, 4, 1, 1, 3);
    m_chkExtension = new QCheckBox(QStringLiteral("自動延長あり"), details);
    m_chkExtension->setObjectName(QStringLiteral("Check1_2"));
    m_chkExtension->setEnabled(false);
    m_chkReserve = new QCheckBox(QStringLiteral("最低落札価格あり"), details);
    m_chkReserve->setObjectName(QStringLiteral("Check1_3"));
    m_chkReserve->setEnabled(false);
    grid->addWidget(m_chkExtension, 5, 0, 1, 2);
    grid->addWidget(m_chkReserve, 5, 2, 1, 2);

    auto *statusBox = new QGroupBox(QStringLiteral("商品の状態"), details);
    auto *statusLayout = new QHBoxLayout(statusBox);
    auto *group = new QButtonGroup(this);
    for (int i = 0; i < 5; ++i) {
        m_option1[i] = new QRadioButton(QString::fromUtf8(kStatusCaptions[i]), statusBox);
        m_option1[i]->setObjectName(QStringLiteral("Option1_") + QString::number(i));
        group->addButton(m_option1[i], i);
        statusLayout->addWidget(m_option1[i]);
    }
    grid->addWidget(statusBox, 6, 0, 1, 4);

    auto *links = new QHBoxLayout;
    auto *page = new QPushButton(QStringLiteral("商品情報"), details);
    page->setObjectName(QStringLiteral("Command1_0"));
    auto *seller = new QPushButton(QStringLiteral("出品者"), details);
    seller->setObjectName(QStringLiteral("Command1_1"));
    auto *list = new QPushButton(QStringLiteral("商品ﾘｽﾄ"), details);
    list->setObjectName(QStringLiteral("Command5"));
    links->addWidget(page);
    links->addWidget(seller);
    links->addWidget(list);
    grid->addLayout(links, 7, 0, 1, 4);
    connect(page, &QPushButton::clicked, this,
            [this] { openInBrowser(m_ctx.hosts.itemPage(m_serverid, m_itemid)); });
    connect(seller, &QPushButton::clicked, this,
            [this] { openInBrowser(m_ctx.hosts.profile(m_lblItemYen[7]->text())); });
    connect(list, &QPushButton::clicked, &m_windows, &BidWindows::bringMainForward);

    m_frame3 = new QGroupBox(QStringLiteral("入札"), this);
    m_frame3->setObjectName(QStringLiteral("Frame3"));
    auto *bid = new QGridLayout(m_frame3);
    bid->addWidget(new QLabel(QStringLiteral("上限価格："), m_frame3), 0, 0);
    m_txtYen[0] = new QLineEdit(m_frame3);
    m_txtYen[0]->setObjectName(QStringLiteral("txtYen_0"));
    bid->addWidget(m_txtYen[0], 0, 1);
    bid->addWidget(new QLabel(QStringLiteral("次回価格："), m_frame3), 1, 0);
    m_txtYen[1] = new QLineEdit(m_frame3);
    m_txtYen[1]->setObjectName(QStringLiteral("txtYen_1"));
    bid->addWidget(m_txtYen[1], 1, 1);
    bid->addWidget(new QLabel(QStringLiteral("入札数量："), m_frame3), 2, 0);
    m_cmbNum = new QComboBox(m_frame3);
    m_cmbNum->setObjectName(QStringLiteral("cmbNum"));
    bid->addWidget(m_cmbNum, 2, 1);
    m_cat = new QComboBox(m_frame3);
    m_cat->setObjectName(QStringLiteral("cat"));
    bid->addWidget(m_cat, 3, 0, 1, 2);
    m_chkAutoBet = new QCheckBox(QStringLiteral("自動入札"), m_frame3);
    m_chkAutoBet->setObjectName(QStringLiteral("chkAutoBet"));
    bid->addWidget(m_chkAutoBet, 4, 0);
    auto *autoLine = new QHBoxLayout;
    autoLine->addWidget(new QLabel(QStringLiteral("自動入札："), m_frame3));
    m_label2 = new QLabel(QStringLiteral("-"), m_frame3);
    m_label2->setObjectName(QStringLiteral("Label2"));
    autoLine->addWidget(m_label2, 1);
    bid->addLayout(autoLine, 4, 1);
    m_command2 = new QPushButton(QStringLiteral("今入札"), m_frame3);
    m_command2->setObjectName(QStringLiteral("Command2"));
    m_command3 = new QPushButton(QStringLiteral("現在の価格をゲット"), m_frame3);
    m_command3->setObjectName(QStringLiteral("Command3"));
    bid->addWidget(m_command2, 5, 0);
    bid->addWidget(m_command3, 5, 1);
    auto *note =
        new QLabel(QStringLiteral("カテゴリ番号、カテゴリの中の１つだけを落札することができます。"
                                  "設定を参照してください。"),
                   m_frame3);
    note->setWordWrap(true);
    bid->addWidget(note, 6, 0, 1, 2);

    auto *buttons = new QHBoxLayout;
    m_command4 = new QPushButton(QStringLiteral("ｺﾝﾊﾟｸﾄ"), this);
    m_command4->setObjectName(QStringLiteral("Command4"));
    auto *save = new QPushButton(QStringLiteral("保存"), this);
    save->setObjectName(QStringLiteral("cmdUpdate"));
    save->setToolTip(QStringLiteral("設定を保存して閉じる"));
    buttons->addWidget(m_command4);
    buttons->addStretch();
    buttons->addWidget(save);

    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("StatusBar1"));
    m_statusBar->setSizeGripEnabled(false);

    auto *top = new QHBoxLayout;
    top->addWidget(details, 3);
    top->addWidget(m_frame3, 2);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 0);
    layout->addLayout(top);
    layout->addLayout(buttons);
    layout->addWidget(m_statusBar);

    fillCategories();
    connect(m_cat, &QComboBox::activated, this, &frmSw::onCategoryChosen);
    connect(m_chkAutoBet, &QCheckBox::clicked, this, [this] { CheckAutoBid(); });
    connect(m_command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(m_command3, &QPushButton::clicked, this, [this] { RefreshItem(false); });
    connect(m_command4, &QPushButton::clicked, this, &frmSw::toggleMode);
    connect(save, &QPushButton::clicked, this, [this] {
        if (cmdUpdatesub())
            (parentWidget() && parentWidget()->inherits("QMdiSubWindow") ? parentWidget() : this)
                ->close();
    });
}

void frmSw::fillCategories()
{
    m_cat->clear();
    m_cat->addItems(m_ctx.categories.bidWindowSelectorEntries());
}

void frmSw::onCategoryChosen(int index)
{
    if (index != m_cat->count() - 1)
        return;
    frmCAT editor(m_ctx.categories, m_ctx.prompter, this);
    editor.exec();
    fillCategories();
    m_cat->setCurrentIndex(0);
}

void frmSw::setYen(int index, qint64 value)
{
    m_lblItemYen[index]->setText(formatYen(value));
}

void frmSw::showStatus(int status)
{
    m_option1[0]->setEnabled(status == Watching);
    if (status >= 0 && status < 5)
        m_option1[status]->setChecked(true);
}

int frmSw::selectedStatus(int none) const
{
    for (int i = 0; i < 5; ++i) {
        if (m_option1[i]->isChecked())
            return i;
    }
    return none;
}

void frmSw::setId(int id)
{
    if (busy() != Idle)
        return;
    const std::optional<ItemRecord> rec = m_ctx.db.itemById(id);
    if (!rec) {
        m_statusBar->showMessage(QStringLiteral("商品が見つかりません（") + QString::number(id) +
                                 QStringLiteral("）") + m_ctx.db.lastError());
        return;
    }
    const ItemRecord &it = *rec;
    m_id = it.id;
    m_serverid = it.Serverid;
    m_itemid = it.itemid;
    m_loadedPrice = it.ItemYenNow;
    m_end = it.enddate;
    m_finished = it.fin;
    m_windows.registerWindow(m_id, this);

    m_cmbNum->clear();
    for (int n = 0; n <= qMax(0, it.NumUri); ++n)
        m_cmbNum->addItem(QString::number(n));
    const int q = m_cmbNum->findText(QString::number(it.Numkai));
    if (q >= 0) {
        m_cmbNum->setCurrentIndex(q);
    } else {
        m_cmbNum->addItem(QString::number(it.Numkai));
        m_cmbNum->setCurrentIndex(m_cmbNum->count() - 1);
    }
    m_lblEndTime->setText(siteTimeText(it.enddate));
    setYen(0, it.ItemYenNow);
    setYen(1, it.ItemYenKibou);
    setYen(2, it.ItemYenStart);
    setYen(3, it.ItemYenUnit);
    m_lblItemYen[4]->setText(QString::number(it.NumUri));
    m_lblItemYen[5]->setText(it.SaikougakuShaid);
    m_lblItemYen[6]->setText(QString::number(it.NumNyuusatu));
    m_lblItemYen[7]->setText(it.ShuppinShaID);
    m_txtYen[0]->setText(QString::number(it.ItemYen));
    m_cat->setCurrentIndex(qBound(0, it.cat.toInt(), 9));
    setWindowTitle(it.Itemname);
    showStatus(it.status);
    m_chkExtension->setChecked(it.Flagjidouencho);
    m_chkReserve->setChecked(it.Flagsaitei);
    if (m_finished) {
        m_frame3->setTitle(kEnded);
        m_frame3->setEnabled(false);
        m_chkAutoBet->setChecked(false);
    } else {
        m_frame3->setTitle(kRunning);
        m_frame3->setEnabled(true);
    }
    CheckAutoBid();
}

BidSettings frmSw::currentSettings() const
{
    BidSettings s;
    s.quantity = m_cmbNum->currentText().toInt();
    s.maxPriceText = m_txtYen[0]->text();
    s.nextPriceText = m_txtYen[1]->text();
    s.buyNow = amountOf(m_lblItemYen[1]->text()).value_or(0);
    s.unit = amountOf(m_lblItemYen[3]->text()).value_or(0);
    s.currentPrice = amountOf(m_lblItemYen[0]->text()).value_or(0);
    s.bidCount = amountOf(m_lblItemYen[6]->text()).value_or(0);
    s.highBidder = m_lblItemYen[5]->text();
    s.ownId = m_ctx.values.ownId;
    s.autoExtend = m_chkExtension->isChecked();
    s.manualSwitch = m_ctx.values.mnlNyusatu;
    s.recompute = m_recompute;
    return s;
}

bool frmSw::armed() const
{
    return m_chkAutoBet->isChecked();
}

void frmSw::CheckAutoBid()
{
    const AutoBidDecision d = sw::CheckAutoBid(currentSettings());
    if (d.beep)
        m_ctx.prompter.beep();
    if (d.nextPriceText)
        m_txtYen[1]->setText(*d.nextPriceText);
    m_bidTime = m_end.addSecs(-m_ctx.values.befSec);
    m_statusBar->showMessage(d.message);
    if (d.armed) {
        m_label2->setText(siteTimeText(m_bidTime));
        m_frame3->setEnabled(!m_finished);
        m_chkAutoBet->setChecked(true);
        planOwnBid();
        return;
    }
    unplanBid(this);
    if (m_chkAutoBet->isChecked())
        m_ctx.log.LOGTodb(m_itemid + QStringLiteral("：") + d.message);
    m_label2->setText(QStringLiteral("-"));
    m_chkAutoBet->setChecked(false);
}

void frmSw::updateButtons()
{
    m_command2->setEnabled(busy() == Idle);
    m_command3->setEnabled(busy() == Idle);
}

void frmSw::planOwnBid()
{
    if (m_finished || !m_bidTime.isValid())
        unplanBid(this);
    else
        planBid(this, m_bidTime.toMSecsSinceEpoch());
}

void frmSw::setFinishedCaption()
{
    m_frame3->setTitle(m_finished ? kEnded : kRunning);
}

QCoro::Task<> frmSw::RefreshItem(bool fromTimer, bool afterBid)
{
    if (!afterBid && busy() != Idle) {
        // A timer-started refresh just tries again on a later tick; it never raises a box
        // that could hold back a bid in progress.
        if (!fromTimer)
            m_ctx.prompter.message(QStringLiteral("処理中です"));
        co_return;
    }
    const std::weak_ptr<int> alive = m_alive;
    const int seq = ++m_refreshSeq;
    ++m_refreshing;
    updateButtons();
    const FetchResult page =
        co_await m_fetcher->FetchPage(m_ctx.hosts.itemPage(m_serverid, m_itemid), false);
    if (alive.expired())
        co_return;
    --m_refreshing;
    int status = selectedStatus(0);
    // A page asked for before a newer refresh (the one after a bid) tells nothing new.
    const std::optional<ItemState> s =
        page.ok && seq == m_refreshSeq ? ParseItemStatus(page.text, m_ctx.values.ownId, sw::now())
                                       : std::nullopt;
    if (s) {
        m_end = s->end;
        const bool unchanged = s->bidder == m_lblItemYen[5]->text() && s->price == m_loadedPrice &&
                               s->finished == m_finished;
        if (!unchanged) {
            m_finished = s->finished;
            setFinishedCaption();
            const bool won = !m_ctx.values.ownId.isEmpty() &&
                             s->bidder.compare(m_ctx.values.ownId, Qt::CaseInsensitive) == 0 &&
                             m_finished;
            if (won && status == Watching) {
                status = Won;
                m_ctx.log.LOGTodb(QStringLiteral("入札結果：") + m_itemid + QStringLiteral("：") +
                                  QString::number(s->price) +
                                  QStringLiteral("：あなたが落札しました。"));
                m_windows.dialog()->setText(QStringLiteral("入札結果：") + m_itemid +
                                            QStringLiteral("\r\n") + QString::number(s->price) +
                                            QStringLiteral("円で落札しました。"));
            } else if (!won) {
                status = Watching;
            }
            if (!m_ctx.db.saveRefresh(m_id, s->price, s->bidder, s->bids, status, m_finished,
                                      m_end))
                m_ctx.log.LOGTodb(m_itemid + QStringLiteral("：更新を保存できませんでした：") +
                                  m_ctx.db.lastError());
            setYen(0, s->price);
            m_lblItemYen[5]->setText(s->bidder);
            m_lblItemYen[6]->setText(QString::number(s->bids));
            m_lblEndTime->setText(siteTimeText(m_end));
            showStatus(status);
            emit itemsChanged();
        }
        m_lastRefresh = sw::now();
    }
    CheckAutoBid();
    updateButtons();
}

QCoro::Task<> frmSw::BidNow(bool confirm, QDateTime bidTime)
{
    CheckAutoBid();
    // A refresh on its way does not hold a bid back; only another bid does.
    if (m_bidding || (confirm && busy() != Idle)) {
        if (confirm && armed())
            m_ctx.prompter.message(QStringLiteral("処理中です"));
        co_return;
    }
    const std::weak_ptr<int> alive = m_alive;
    if (armed()) {
        m_bidding = true;
        updateButtons();
        if (!confirm || m_ctx.prompter.question(QStringLiteral("今すぐに入札します"), true)) {
            BidRequest req;
            req.serverid = m_serverid;
            req.itemid = m_itemid;
            req.amount = amountOf(m_txtYen[1]->text()).value_or(0);
            req.bidTime = bidTime;
            req.end = m_end;
            req.quantity = m_cmbNum->currentText();
            req.maxText = m_txtYen[0]->text();
            req.unit = amountOf(m_lblItemYen[3]->text()).value_or(0);
            req.userId = m_ctx.values.ownId;
            req.encodedPassword = m_ctx.values.encodedPassword;
            QLineEdit *next = m_txtYen[1];
            BidContext bc{*m_fetcher, m_ctx.hosts, m_ctx.log, alive,
                          [next, alive](const QString &amount) {
                              if (!alive.expired())
                                  next->setText(amount);
                          }};
            const BidResult r = co_await PlaceBid(bc, req);
            if (alive.expired())
                co_return;
            // Other windows may be sending their bids in this very moment: showing the
            // result window and reading the page again can wait a little.
            co_await preciseSleep(kAfterBidMs);
            if (alive.expired())
                co_return;
            m_accepted = r.success;
            m_acceptedMax = req.maxText;
            if (r.dialogText)
                m_windows.dialog()->setText(*r.dialogText);
            if (r.showDialog)
                m_windows.dialog()->showModeless();
        }
    }
    m_recompute = true;
    m_bidding = false;
    updateButtons();
    co_await RefreshItem(true, true);
}

QCoro::Task<> frmSw::Command2_Click()
{
    const std::weak_ptr<int> alive = m_alive;
    CheckAutoBid();
    if (armed()) {
        co_await BidNow(true, sw::now());
    } else {
        const std::optional<qint32> max = amountOf(m_txtYen[0]->text());
        const qint32 buyNow = amountOf(m_lblItemYen[1]->text()).value_or(0);
        if (max && *max > 0 && *max == buyNow &&
            m_ctx.prompter.question(QStringLiteral("希望落札価格で落札しますか？"), false)) {
            m_txtYen[1]->setText(m_txtYen[0]->text());
            m_recompute = false;
            co_await BidNow(true, sw::now());
        } else {
            m_ctx.prompter.message(m_statusBar->currentMessage());
        }
    }
    if (alive.expired())
        co_return;
    co_await RefreshItem(true);
    if (alive.expired())
        co_return;
    cmdUpdatesub();
}

bool frmSw::cmdUpdatesub()
{
    const std::optional<qint32> max = amountOf(m_txtYen[0]->text());
    if (!max || *max < 0) {
        m_ctx.prompter.message(AutoBidText::maxNotANumber());
        return false;
    }
    const int catIndex = qBound(0, m_cat->currentIndex(), 9);
    if (!m_ctx.db.saveUserColumns(m_id, *max, QString::number(catIndex),
                                  m_cmbNum->currentText().toInt(), selectedStatus(5))) {
        m_ctx.prompter.message(QStringLiteral("保存できませんでした：") + m_ctx.db.lastError());
        return false;
    }
    emit itemsChanged();
    return true;
}

void frmSw::Timer1_Timer()
{
    TickInput in;
    in.now = sw::now();
    in.end = m_end;
    in.befSec = m_ctx.values.befSec;
    in.finished = m_finished;
    in.armed = armed();
    in.bidding = m_bidding;
    in.refreshing = m_refreshing > 0;
    in.previewLeadMs = previewLeadMs(siteClock());
    in.slowAnswerMs = siteClock().slowAnswerMs();
    in.othersImminent = bidsImminent(in.now.toMSecsSinceEpoch(), this);
    in.lastRefresh = m_lastRefresh;
    in.refreshIntervalSec = m_refreshIntervalSec;
    in.leadingWithSameMaximum =
        m_accepted && !m_ctx.values.ownId.isEmpty() &&
        m_lblItemYen[5]->text().compare(m_ctx.values.ownId, Qt::CaseInsensitive) == 0 &&
        m_txtYen[0]->text() == m_acceptedMax;
    const TickActions a = timerTick(in);
    // A bid within two minutes wants the site's clock known to a fraction of a second.
    if (in.armed && !m_finished && in.now.secsTo(m_bidTime) < kProbeBeforeSec && in.now < m_end)
        m_windows.clockProbe().want(m_ctx.hosts.itemHostTop(m_serverid));
    if (a.finishFrame) {
        if (m_frame3->isEnabled()) {
            m_frame3->setEnabled(false);
            m_frame3->setTitle(a.caption);
        }
        return;
    }
    m_frame3->setTitle(a.caption);
    if (a.startBid) {
        m_ctx.log.LOGTodb(QStringLiteral("入札準備その２"));
        BidNow(false, m_bidTime);
    } else if (a.refresh) {
        m_ctx.log.LOGTodb(QStringLiteral("最新情報所得"));
        RefreshItem(true);
    }
}

void frmSw::openInBrowser(const QString &url)
{
    m_windows.openPage(url);
}

void frmSw::setWinmode(int mode)
{
    m_winmode = mode == 1 ? 1 : 0;
    applyWindowMode();
}

void frmSw::applyWindowMode()
{
    const bool compact = m_winmode == 1;
    m_details->setVisible(!compact);
    m_command4->setText(compact ? QStringLiteral("標準") : QStringLiteral("ｺﾝﾊﾟｸﾄ"));
    QWidget *frame =
        parentWidget() && parentWidget()->inherits("QMdiSubWindow") ? parentWidget() : this;
    const QSize size = compact ? QSize(twipsToPixels(3000, this), twipsToPixels(4400, this))
                               : QSize(twipsToPixels(8400, this), twipsToPixels(5020, this));
    frame->resize(size.expandedTo(frame->minimumSizeHint()));
    if (QWidget *area = frame->isWindow() ? nullptr : frame->parentWidget())
        frame->move(qMax(0, area->width() - frame->width()), frame->y());
}

void frmSw::toggleMode()
{
    const bool toCompact = m_winmode == 0;
    m_ctx.settings.save(kSettings, QStringLiteral("min"),
                        toCompact ? QStringLiteral("1") : QStringLiteral("0"));
    setWinmode(toCompact ? 1 : 0);
}

void frmSw::closeEvent(QCloseEvent *event)
{
    m_timer1->stop();
    QWidget::closeEvent(event);
}

} // namespace sw
