#include "frmsw.h"

#include "armedbid.h"
#include "armedbids.h"
#include "bidhost.h"
#include "bidwindows.h"
#include "categories.h"
#include "clock.h"
#include "database.h"
#include "dialog1.h"
#include "frmcat.h"
#include "prompter.h"
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
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStatusBar>
#include <QVBoxLayout>

namespace sw {

namespace {
const QString kSettings = QStringLiteral("Settings");
const char *const kStatusCaptions[] = {"様子見", "落札", "連絡", "商品到着", "評価"};
const char *const kYenCaptions[] = {"現在価格：", "希望落札価格：", "開始価格：", "入札単位：",
                                    "数量：",     "最高額入札者：", "入札件数：", "出品者："};
const QString kRunning = QStringLiteral("入札（開催中）");
const QString kEnded = QStringLiteral("入札（終了）");

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
    m_winmode = m_ctx.settings.get(kSettings, QStringLiteral("min"), QStringLiteral("0")) ==
                        QLatin1String("1")
                    ? 1
                    : 0;
}

frmSw::~frmSw()
{
    detach();
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
    connect(page, &QPushButton::clicked, this, [this] {
        if (m_bid)
            openInBrowser(m_ctx.hosts.itemPage(m_bid->item().Serverid, m_bid->item().itemid));
    });
    connect(seller, &QPushButton::clicked, this,
            [this] { openInBrowser(m_ctx.hosts.profile(m_lblItemYen[7]->text())); });
    connect(list, &QPushButton::clicked, &m_windows, &BidWindows::bringMainForward);

    m_frame3 = new QGroupBox(QStringLiteral("入札"), this);
    m_frame3->setObjectName(QStringLiteral("Frame3"));
    auto *bid = new QGridLayout(m_frame3);
    auto *maxLabel = new QLabel(QStringLiteral("上限価格(&M)："), m_frame3);
    bid->addWidget(maxLabel, 0, 0);
    m_txtYen[0] = new QLineEdit(m_frame3);
    maxLabel->setBuddy(m_txtYen[0]);
    m_txtYen[0]->setObjectName(QStringLiteral("txtYen_0"));
    bid->addWidget(m_txtYen[0], 0, 1);
    auto *nextLabel = new QLabel(QStringLiteral("次回価格："), m_frame3);
    bid->addWidget(nextLabel, 1, 0);
    m_txtYen[1] = new QLineEdit(m_frame3);
    nextLabel->setBuddy(m_txtYen[1]);
    m_txtYen[1]->setObjectName(QStringLiteral("txtYen_1"));
    // Worked out from the saved maximum and the page; typing cannot change what is bid.
    m_txtYen[1]->setReadOnly(true);
    bid->addWidget(m_txtYen[1], 1, 1);
    auto *quantityLabel = new QLabel(QStringLiteral("入札数量(&Q)："), m_frame3);
    bid->addWidget(quantityLabel, 2, 0);
    m_cmbNum = new QComboBox(m_frame3);
    quantityLabel->setBuddy(m_cmbNum);
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
    auto *handOver = new QPushButton(QStringLiteral("入札サービスに任せる"), this);
    handOver->setObjectName(QStringLiteral("cmdHandOver"));
    handOver->setToolTip(QStringLiteral("常時動いている入札サービスに、この商品の入札を任せます"));
    connect(handOver, &QPushButton::clicked, this, [this] {
        if (m_bid)
            emit m_windows.handOverRequested(m_bid->id());
    });
    buttons->addWidget(m_command4);
    buttons->addWidget(handOver);
    buttons->addStretch();
    buttons->addWidget(save);

    // Named after their labels, never after what the frame's caption counts down.
    m_frame3->setAccessibleName(QStringLiteral("入札"));
    m_txtYen[0]->setAccessibleName(QStringLiteral("上限価格"));
    m_txtYen[1]->setAccessibleName(QStringLiteral("次回価格"));
    m_cmbNum->setAccessibleName(QStringLiteral("入札数量"));
    // The keyboard's way: 上限価格, 入札数量, then 保存; Enter saves, Escape closes.
    setTabOrder(m_txtYen[0], m_cmbNum);
    setTabOrder(m_cmbNum, save);
    auto *enter = new QShortcut(QKeySequence(Qt::Key_Return), this);
    auto *keypadEnter = new QShortcut(QKeySequence(Qt::Key_Enter), this);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    for (QShortcut *s : {enter, keypadEnter, escape})
        s->setContext(Qt::WidgetWithChildrenShortcut);
    connect(enter, &QShortcut::activated, save, &QPushButton::click);
    connect(keypadEnter, &QShortcut::activated, save, &QPushButton::click);
    connect(escape, &QShortcut::activated, this, [this] {
        (parentWidget() && parentWidget()->inherits("QMdiSubWindow") ? parentWidget() : this)
            ->close();
    });
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
    connect(m_chkAutoBet, &QCheckBox::clicked, this, [this] {
        if (m_bid)
            m_bid->checkAutoBid();
        showState();
    });
    connect(m_command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(m_command3, &QPushButton::clicked, this, [this] { RefreshItem(); });
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
    if (index != m_cat->count() - 1) {
        m_chosenCat = index;
        return;
    }
    frmCAT editor(m_ctx.categories, m_ctx.prompter, this);
    editor.exec();
    fillCategories();
    // Back to the category chosen before: the names may have changed, the choice has not.
    m_cat->setCurrentIndex(m_chosenCat);
}

void frmSw::setYen(int index, qint64 value)
{
    m_lblItemYen[index]->setText(formatYen(value));
}

int frmSw::selectedStatus(int none) const
{
    for (int i = 0; i < 5; ++i) {
        if (m_option1[i]->isChecked())
            return i;
    }
    return none;
}

void frmSw::detach()
{
    if (!m_bid)
        return;
    disconnect(m_bid, nullptr, this, nullptr);
    const int id = m_bid->id();
    m_bid = nullptr;
    // The item's bid goes on without the window when it is armed.
    if (m_registry)
        m_windows.armedBids().release(id);
}

void frmSw::setId(int id)
{
    if (m_bid && (m_bid->id() == id || m_bid->busy() != ArmedBid::Idle)) {
        if (m_bid->id() == id)
            m_bid->load();
        showLimits();
        showState();
        return;
    }
    ArmedBid *bid = m_windows.armedBids().acquireShown(id);
    if (!bid) {
        m_statusBar->showMessage(QStringLiteral("商品が見つかりません（") + QString::number(id) +
                                 QStringLiteral("）") + m_ctx.db.lastError());
        return;
    }
    detach();
    m_bid = bid;
    m_windows.registerWindow(id, this);
    connect(m_bid, &ArmedBid::changed, this, &frmSw::showState);
    connect(m_bid, &ArmedBid::ticked, this, &frmSw::showCaption);
    connect(m_bid, &QObject::destroyed, this, [this] { m_bid = nullptr; });
    showLimits();
    showState();
    showCaption();
}

int frmSw::id() const
{
    return m_bid ? m_bid->id() : 0;
}

bool frmSw::armed() const
{
    return m_bid && m_bid->armed();
}

int frmSw::busy() const
{
    return m_bid ? m_bid->busy() : 0;
}

QDateTime frmSw::bidTime() const
{
    return m_bid ? m_bid->bidTime() : QDateTime();
}

bool frmSw::finished() const
{
    return m_bid && m_bid->finished();
}

void frmSw::present()
{
    if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget())) {
        sub->showNormal();
        if (sub->mdiArea())
            sub->mdiArea()->setActiveSubWindow(sub);
    } else {
        if (isMinimized())
            showNormal();
        show();
        raise();
        activateWindow();
    }
    // The user came to type a maximum: it is ready to be replaced.
    m_txtYen[0]->setFocus(Qt::OtherFocusReason);
    m_txtYen[0]->selectAll();
}

void frmSw::showLimits()
{
    if (!m_bid)
        return;
    const ItemRecord &it = m_bid->item();
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
    m_txtYen[0]->setText(QString::number(it.ItemYen));
    m_chosenCat = qBound(0, it.cat.toInt(), 9);
    m_cat->setCurrentIndex(m_chosenCat);
    m_option1[0]->setEnabled(it.status == Watching);
    if (it.status >= 0 && it.status < 5)
        m_option1[it.status]->setChecked(true);
}

void frmSw::showState()
{
    if (!m_bid)
        return;
    const ItemRecord &it = m_bid->item();
    setWindowTitle(it.Itemname);
    m_lblEndTime->setText(siteTimeText(it.enddate));
    setYen(0, it.ItemYenNow);
    setYen(1, it.ItemYenKibou);
    setYen(2, it.ItemYenStart);
    setYen(3, it.ItemYenUnit);
    m_lblItemYen[4]->setText(QString::number(it.NumUri));
    m_lblItemYen[5]->setText(leaderText(it.SaikougakuShaid));
    m_lblItemYen[6]->setText(QString::number(it.NumNyuusatu));
    m_lblItemYen[7]->setText(it.ShuppinShaID);
    m_chkExtension->setChecked(it.Flagjidouencho);
    m_chkReserve->setChecked(it.Flagsaitei);
    // The status the program sets (won, or back to watching) follows the item.
    m_option1[0]->setEnabled(it.status == Watching);
    if (it.status >= 0 && it.status < 5 && selectedStatus(-1) <= Won)
        m_option1[it.status]->setChecked(true);
    m_txtYen[1]->setText(m_bid->nextAmountText());
    m_chkAutoBet->setChecked(m_bid->armed());
    m_label2->setText(m_bid->armed() ? siteTimeText(m_bid->bidTime()) : QStringLiteral("-"));
    m_frame3->setEnabled(!it.fin);
    if (it.fin)
        m_frame3->setTitle(kEnded);
    m_statusBar->showMessage(m_bid->statusMessage());
    m_command2->setEnabled(m_bid->busy() == ArmedBid::Idle);
    m_command3->setEnabled(m_bid->busy() == ArmedBid::Idle);
}

void frmSw::showCaption()
{
    if (!m_bid)
        return;
    if (m_bid->finished()) {
        m_frame3->setTitle(kEnded);
        m_frame3->setEnabled(false);
        return;
    }
    m_frame3->setTitle(m_bid->caption().isEmpty() ? kRunning : m_bid->caption());
}

void frmSw::RefreshItem()
{
    if (m_bid)
        m_bid->refresh(true);
}

QCoro::Task<> frmSw::Command2_Click()
{
    if (!m_bid)
        co_return;
    QPointer<ArmedBid> bid = m_bid;
    bid->checkAutoBid();
    if (bid->armed()) {
        if (bid->busy() != ArmedBid::Idle)
            m_ctx.prompter.message(QStringLiteral("処理中です"));
        else if (m_ctx.prompter.question(QStringLiteral("今すぐに入札します"), true))
            co_await bid->bidNow(true, sw::now());
    } else {
        const qint64 max = bid->item().ItemYen;
        if (max > 0 && max == bid->item().ItemYenKibou &&
            m_ctx.prompter.question(QStringLiteral("希望落札価格で落札しますか？"), false))
            co_await bid->buyAtBuyNowPrice();
        else
            m_ctx.prompter.message(bid->statusMessage());
    }
    if (!bid)
        co_return;
    co_await bid->refresh(false);
}

bool frmSw::cmdUpdatesub()
{
    if (!m_bid)
        return false;
    const std::optional<qint64> max = amountOf(m_txtYen[0]->text());
    if (!max || *max < 0) {
        m_ctx.prompter.message(AutoBidText::maxNotANumber());
        return false;
    }
    BidLimits l;
    l.max = *max;
    l.quantity = m_cmbNum->currentText().toInt();
    l.cat = QString::number(qBound(0, m_cat->currentIndex(), 9));
    l.status = selectedStatus(5);
    QString error;
    if (!m_windows.host().saveLimits(m_bid->id(), l, &error)) {
        m_ctx.prompter.message(error);
        return false;
    }
    return true;
}

void frmSw::openInBrowser(const QString &url)
{
    if (url.isEmpty()) {
        m_statusBar->showMessage(QStringLiteral("アドレスが正しくないので開けません。"));
        return;
    }
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

} // namespace sw
