#include "frmserch.h"

#include "activitylog.h"
#include "cookiejar.h"
#include "database.h"
#include "itemparser.h"
#include "pagefetcher.h"
#include "prompter.h"
#include "searchimport.h"
#include "searchquery.h"
#include "settingsstore.h"
#include "sitehosts.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QToolBar>
#include <QVBoxLayout>

namespace sw {

namespace {
const QString kSerch = QStringLiteral("Serch");
const QString kDefaultKeyword = QStringLiteral("（黄色　青色）　シャツ　－ジャンク");

QString badPriceText()
{
    return QStringLiteral("金額範囲には0以上の数字を入れてください。");
}
} // namespace

frmSerch::frmSerch(AppContext &ctx, QWidget *parent)
    : QWidget(parent), m_ctx(ctx),
      m_fetcher(new PageFetcher(&ctx.cookies, ctx.log, ctx.prompter, this)),
      m_text1(new QLineEdit(QStringLiteral("タミヤ"), this)), m_names(new QComboBox(this)),
      m_ids(new QComboBox(this)), m_list1(new QListWidget(this)), m_lbllog0(new QLabel(this)),
      m_lbllog1(new QLabel(this)), m_label2(new QLabel(this)), m_toolbar(new QToolBar(this))
{
    setObjectName(QStringLiteral("frmSerch"));
    setWindowTitle(QStringLiteral("商品検索"));
    // This window keeps the default connection: no Proxy setting.
    configureFetcher(*m_fetcher, ctx.settings, false, ctx.prompter);

    m_text1->setObjectName(QStringLiteral("Text1"));
    m_names->setObjectName(QStringLiteral("Combo1_0"));
    m_names->setToolTip(QStringLiteral(
        "表示ーホームページを開いて、好きなカテゴリーに移動してから検索ボタンを押すと、そのカテゴ"
        "リーが登録されます。"));
    m_ids->setObjectName(QStringLiteral("Combo1_1"));
    m_ids->hide(); // the user works only with the names
    const char *yenDefaults[] = {"100", "1000"};
    for (int i = 0; i < 2; ++i) {
        m_yen[i] = new QLineEdit(QString::fromLatin1(yenDefaults[i]), this);
        m_yen[i]->setObjectName(QStringLiteral("txtYen_") + QString::number(i));
    }
    m_check[0] = new QCheckBox(QStringLiteral("自動延長なし"), this);
    m_check[1] = new QCheckBox(QStringLiteral("希望落札価格と開始価格が異なる"), this);
    for (int i = 0; i < 2; ++i)
        m_check[i]->setObjectName(QStringLiteral("Check1_") + QString::number(i));
    m_list1->setObjectName(QStringLiteral("List1"));
    m_lbllog0->setObjectName(QStringLiteral("lbllog_0"));
    m_lbllog1->setObjectName(QStringLiteral("lbllog_1"));
    m_label2->setObjectName(QStringLiteral("Label2"));

    m_toolbar->setObjectName(QStringLiteral("Toolbar1"));
    QAction *goAction = m_toolbar->addAction(QStringLiteral("検索"));
    goAction->setObjectName(QStringLiteral("go"));
    goAction->setToolTip(QStringLiteral("検索して、商品ﾘｽﾄに取り込みます"));
    QAction *stopAction = m_toolbar->addAction(QStringLiteral("中止"));
    stopAction->setObjectName(QStringLiteral("stop"));
    stopAction->setToolTip(QStringLiteral("検索を中止します"));
    connect(goAction, &QAction::triggered, this, [this] { go(); });
    connect(stopAction, &QAction::triggered, this, &frmSerch::stop);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("キーワード："), m_text1);
    form->addRow(QString(),
                 new QLabel(QStringLiteral("（）で囲った単語はOR,－をつけるとNOT\n"
                                           "例：黄色か青色のシャツでジャンクは除くって時\n"
                                           "（黄色　青色）　シャツ　－ジャンク"),
                            this));
    form->addRow(QStringLiteral("カテゴリ："), m_names);
    auto *prices = new QHBoxLayout;
    prices->addWidget(m_yen[0]);
    prices->addWidget(new QLabel(QStringLiteral("円以上"), this));
    prices->addWidget(m_yen[1]);
    prices->addWidget(new QLabel(QStringLiteral("円以内"), this));
    form->addRow(QStringLiteral("金額範囲（AND検索）："), prices);
    auto *checks = new QHBoxLayout;
    checks->addWidget(m_check[0]);
    checks->addWidget(m_check[1]);
    form->addRow(QStringLiteral("その他："), checks);
    auto *progress = new QHBoxLayout;
    progress->addWidget(m_label2);
    progress->addWidget(new QLabel(QStringLiteral("一次検索結果："), this));
    progress->addWidget(m_lbllog0);
    progress->addWidget(new QLabel(QStringLiteral("取込点数："), this));
    progress->addWidget(m_lbllog1);
    progress->addStretch();
    form->addRow(QString(), progress);
    form->addRow(QStringLiteral("検索ﾛｸﾞ："), m_list1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_toolbar);
    layout->addLayout(form);
    resize(560, 480);
    // The stored fields; the category lists follow from readcat().
    loadSettings();
}

frmSerch::~frmSerch()
{
    m_alive.reset();
}

QCoro::Task<> frmSerch::readcat()
{
    const std::weak_ptr<int> alive = m_alive;
    const auto rows = m_ctx.db.siteCategories();
    if (rows && rows->isEmpty()) {
        co_await mnuGetCat();
        if (!alive.expired())
            emit categoriesLoaded();
        co_return;
    }
    if (rows) {
        for (const auto &[id, name] : *rows) {
            m_ids->addItem(QString::number(id));
            m_names->addItem(name + QLatin1Char('(') + QString::number(id) + QLatin1Char(')'));
        }
    } else {
        m_ctx.log.LOGTodb(m_ctx.db.lastError());
    }
    const int index =
        m_ctx.settings.getInt(QStringLiteral("frmSerch"), QStringLiteral("catindex"), 0);
    m_names->setCurrentIndex(index < m_names->count() ? index : -1);
    emit categoriesLoaded();
}

QCoro::Task<> frmSerch::mnuGetCat()
{
    const std::weak_ptr<int> alive = m_alive;
    addcat(QStringLiteral("すべて"), 0);
    const FetchResult page =
        co_await m_fetcher->FetchPage(m_ctx.hosts.searchOptions(), false, 0, true);
    if (alive.expired())
        co_return;
    if (page.status == 404) {
        // Today's site has no page that lists its categories: they come from the built-in
        // browser (スペシャル検索 on a category or an item page), one by one.
        m_ctx.log.LOGTodb(QStringLiteral("ヤフオク!にカテゴリの一覧のページがないので、カテゴリは"
                                         "ブラウザの「検索」ボタンで登録してください"));
        co_return;
    }
    if (!page.ok) {
        m_ctx.prompter.message(QStringLiteral(
            "カテゴリの読み込みに失敗しました。ネットワークの接続を確認してください。"));
        if (!alive.expired()) {
            // In the frame the window sits in a sub-window, which has to go with it.
            if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget()))
                sub->close();
            else
                close();
        }
        co_return;
    }
    for (const SiteCategory &c : parseCategoryOptions(page.text))
        addcat(c.name, c.id);
}

void frmSerch::addcat(const QString &name, qint64 id)
{
    const QString idText = QString::number(id);
    const int at = m_ids->findText(idText, Qt::MatchExactly);
    if (at >= 0) {
        m_names->setCurrentIndex(at);
        return;
    }
    const auto stored = m_ctx.db.siteCategories();
    bool known = false;
    if (stored) {
        for (const auto &row : *stored)
            known = known || row.first == id;
    }
    if (known)
        return; // stored under its own name; this opening does not list it
    if (!m_ctx.db.addSiteCategory(id, name)) {
        m_ctx.log.LOGTodb(m_ctx.db.lastError());
        return;
    }
    m_ids->addItem(idText);
    m_names->addItem(name);
    m_names->setCurrentIndex(m_names->count() - 1);
}

QString frmSerch::categoryIdSelected() const
{
    const int i = m_names->currentIndex();
    return i >= 0 && i < m_ids->count() ? m_ids->itemText(i) : QString();
}

QCoro::Task<> frmSerch::go()
{
    if (m_running)
        co_return;
    m_stop = false;
    const std::optional<qint32> minPrice = priceFromBox(m_yen[0]->text());
    const std::optional<qint32> maxPrice = priceFromBox(m_yen[1]->text());
    if (!minPrice || !maxPrice) {
        m_ctx.prompter.message(badPriceText());
        co_return;
    }
    const std::weak_ptr<int> alive = m_alive;
    SearchRun run;
    const QString keyword = m_text1->text();
    const QString category = categoryIdSelected();
    const SiteHosts &hosts = m_ctx.hosts;
    if (!keyword.isEmpty()) {
        run.kind = SearchRun::Keyword;
        const QString first = keywordSearchUrl(hosts, keyword, category, *minPrice, *maxPrice);
        // The page after the first is apg=1.
        run.pageUrl = [first](int k) -> QString {
            return k == 1 ? first : first + QStringLiteral("&apg=") + QString::number(k - 1);
        };
        run.todayUrl = [&hosts, keyword, category](int offset) {
            return hosts.todaySearch(keyword, category, offset);
        };
    } else {
        run.kind = SearchRun::Listing;
        run.pageUrl = [&hosts, category](int k) -> QString {
            return hosts.categoryListing(category, k);
        };
        run.todayUrl = [&hosts, category](int offset) {
            return hosts.todayCategoryListing(category, offset);
        };
    }
    run.minPrice = *minPrice;
    run.maxPrice = *maxPrice;
    run.noAutoExtension = m_check[0]->isChecked();
    run.buyPriceDiffers = m_check[1]->isChecked();
    run.alive = alive;
    run.stopRequested = [this] { return m_stop; };
    run.showPage = [this](int k) { m_label2->setText(QString::number(k)); };
    run.showExamined = [this](const QString &t) { m_lbllog0->setText(t); };
    run.showImported = [this](int n) { m_lbllog1->setText(QString::number(n)); };
    run.addTitle = [this](const QString &t) { m_list1->addItem(t); };
    run.hosts = &m_ctx.hosts;
    run.report = [this](const QString &line) { m_ctx.log.LOGTodb(line); };

    m_list1->clear();
    m_lbllog0->clear();
    m_lbllog1->setText(QStringLiteral("0"));
    m_running = true;
    const SearchResult result = co_await RunSearch(*m_fetcher, m_ctx.parser, run);
    if (alive.expired())
        co_return;
    m_running = false;
    if (result.imported > 0)
        emit itemsImported();
    QString message = result.message;
    if (result.storeFailures > 0)
        message += QStringLiteral("\n") + ItemPageParser::storeFailuresText(result.storeFailures);
    if (!message.isEmpty())
        m_ctx.prompter.message(message);
}

void frmSerch::stop()
{
    m_stop = true;
    m_ctx.prompter.message(QStringLiteral("中断します。"));
}

void frmSerch::loadSettings()
{
    SettingsStore &s = m_ctx.settings;
    m_text1->setText(s.get(kSerch, QStringLiteral("text"), kDefaultKeyword));
    m_yen[0]->setText(s.get(kSerch, QStringLiteral("yen0"), QStringLiteral("100")));
    m_yen[1]->setText(s.get(kSerch, QStringLiteral("yen1"), QStringLiteral("1000")));
    m_check[0]->setChecked(s.getInt(kSerch, QStringLiteral("chk0"), 0) != 0);
    m_check[1]->setChecked(s.getInt(kSerch, QStringLiteral("chk1"), 0) != 0);
}

void frmSerch::saveSettings()
{
    SettingsStore &s = m_ctx.settings;
    s.save(QStringLiteral("frmSerch"), QStringLiteral("catindex"),
           QString::number(m_names->currentIndex()));
    s.save(kSerch, QStringLiteral("text"), m_text1->text());
    s.save(kSerch, QStringLiteral("yen0"), m_yen[0]->text());
    s.save(kSerch, QStringLiteral("yen1"), m_yen[1]->text());
    s.save(kSerch, QStringLiteral("chk0"),
           m_check[0]->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    s.save(kSerch, QStringLiteral("chk1"),
           m_check[1]->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void frmSerch::closeEvent(QCloseEvent *event)
{
    m_stop = true;
    saveSettings();
    QWidget::closeEvent(event);
}

} // namespace sw
