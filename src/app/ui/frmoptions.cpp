#include "frmoptions.h"

#include "appvalues.h"
#include "notice.h"
#include "prompter.h"
#include "proxyconfig.h"
#include "settingsstore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace sw {

namespace {
const QString kSettings = QStringLiteral("Settings");

QString flag(const QCheckBox *box)
{
    return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
}

// Selects the entry with the text; a stored value outside the list becomes an entry of its own.
void selectText(QComboBox *combo, const QString &text)
{
    int i = combo->findText(text);
    if (i < 0) {
        combo->addItem(text);
        i = combo->count() - 1;
    }
    combo->setCurrentIndex(i);
}

QCheckBox *check(QWidget *parent, const char *name, const QString &caption)
{
    auto *box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QLabel *note(QWidget *parent, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}
} // namespace

frmOptions::frmOptions(SettingsStore &settings, AppValues &values, Prompter &prompter,
                       QWidget *parent)
    : QDialog(parent), m_settings(settings), m_values(values), m_prompter(prompter),
      m_txtntp(new QLineEdit(this)), m_text2(new QLineEdit(this)), m_combo1(new QComboBox(this)),
      m_cmbefSec(new QComboBox(this))
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("ｵﾌﾟｼｮﾝ"));
    m_txtntp->setObjectName(QStringLiteral("txtntp"));
    m_text2->setObjectName(QStringLiteral("Text2"));
    m_combo1->setObjectName(QStringLiteral("Combo1"));
    m_cmbefSec->setObjectName(QStringLiteral("cmbefSec"));
    m_chkClickHP = check(this, "chkClickHP", QStringLiteral("商品ﾘｽﾄをﾀﾞﾌﾞﾙｸﾘｯｸするとHPを開く"));
    m_chkMnlNyusatu =
        check(this, "chkMnlNyusatu",
              QStringLiteral("自動延長が設定されている時は自動入札をヤフーにまかせない"));
    m_chkCATOn = check(this, "chkCATOn",
                       QStringLiteral("カテゴリの中の１つでも落札できたら、他の商品は落札しない"));
    m_check1 = check(this, "Check1", QStringLiteral("おせっかいなメッセージを出さない"));
    m_chkMin = check(this, "chkMin", QStringLiteral("入札フォームを小さくする"));

    auto *network = new QGroupBox(QStringLiteral("ネットワーク設定"), this);
    auto *netForm = new QFormLayout(network);
    netForm->addRow(QStringLiteral("時刻修正ﾌﾟﾛｸﾞﾗﾑ："), m_txtntp);
    netForm->addRow(QStringLiteral("プロキシ："), m_text2);
    netForm->addRow(QStringLiteral("１時間前になってから最新情報を読む間隔（分）： "), m_combo1);
    netForm->addRow(m_chkClickHP);

    auto *bidding = new QGroupBox(QStringLiteral("入札条件"), this);
    auto *bidForm = new QFormLayout(bidding);
    bidForm->addRow(QStringLiteral("入札する時刻は終了時刻の何秒前にするか： "), m_cmbefSec);
    bidForm->addRow(note(
        bidding, QStringLiteral("※注意：サーバーが込み合ってる場合は入札に失敗しますので、"
                                "どうしても落札したいときは時間に余裕を持たせた方がいいです。")));
    bidForm->addRow(m_chkMnlNyusatu);
    bidForm->addRow(note(bidding, QStringLiteral("※注意：競争相手の自動入札額より高く入札しないと"
                                                 "自動延長にならないので落札できる可能性が低くな"
                                                 "ります。")));
    bidForm->addRow(m_chkCATOn);
    bidForm->addRow(
        note(bidding, QStringLiteral("※注意：対象となる商品の入札画面を開いていたら入札する。")));

    auto *other = new QGroupBox(QStringLiteral("その他"), this);
    auto *otherBox = new QVBoxLayout(other);
    otherBox->addWidget(m_check1);
    otherBox->addWidget(m_chkMin);

    // Which happenings are told by a desktop notification, and whether with a sound.
    auto *notices = new QGroupBox(QStringLiteral("通知"), this);
    auto *noticeGrid = new QGridLayout(notices);
    int n = 0;
    for (const NoticeKindInfo &k : kNoticeKinds) {
        const QString key = noticeSettingKey(k.kind);
        QCheckBox *box =
            check(this, ("chk" + key.toStdString()).c_str(), QString::fromUtf8(k.label));
        m_noticeBoxes.append({key, box});
        noticeGrid->addWidget(box, n / 4, n % 4);
        ++n;
    }
    m_chkSound = check(this, "chkNotifySound", QStringLiteral("音を鳴らす"));
    noticeGrid->addWidget(m_chkSound, n / 4 + 1, 0, 1, 4);

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(ok, &QPushButton::clicked, this, &frmOptions::cmdOK_Click);
    connect(cancel, &QPushButton::clicked, this, &frmOptions::cmdCancel_Click);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(network);
    layout->addWidget(bidding);
    layout->addWidget(other);
    layout->addWidget(notices);
    layout->addLayout(buttons);
}

int frmOptions::refreshIntervalFrom(const SettingsStore &settings)
{
    const int minutes = settings.getInt(kSettings, QStringLiteral("accesskankaku"), 1);
    return minutes <= 0 ? 60 : minutes * 60;
}

void frmOptions::load()
{
    m_txtntp->setText(m_settings.get(kSettings, QStringLiteral("ntp"), QString()));
    m_check1->setChecked(m_settings.getBool(kSettings, QStringLiteral("promode"), false));
    m_cmbefSec->clear();
    m_cmbefSec->addItems(
        {QStringLiteral("5"), QStringLiteral("10"), QStringLiteral("30"), QStringLiteral("60")});
    selectText(m_cmbefSec,
               m_settings.get(kSettings, QStringLiteral("Befsec"), QStringLiteral("30")));
    m_chkClickHP->setChecked(m_settings.getBool(kSettings, QStringLiteral("ClickHP"), false));
    m_chkCATOn->setChecked(m_settings.getBool(kSettings, QStringLiteral("CatOn"), false));
    m_chkMin->setChecked(m_settings.getBool(kSettings, QStringLiteral("min"), false));
    m_chkMnlNyusatu->setChecked(m_settings.getBool(kSettings, QStringLiteral("mnlNyusatu"), false));
    m_combo1->clear();
    m_combo1->addItems({QStringLiteral("1"), QStringLiteral("5"), QStringLiteral("10")});
    selectText(m_combo1,
               m_settings.get(kSettings, QStringLiteral("accesskankaku"), QStringLiteral("1")));
    m_text2->setText(m_settings.get(kSettings, QStringLiteral("Proxy"), QString()));
    for (const auto &[key, box] : m_noticeBoxes)
        box->setChecked(m_settings.getBool(kSettings, key, true));
    m_chkSound->setChecked(m_settings.getBool(kSettings, QStringLiteral("NotifySound"), false));
    if (!proxyOk())
        return;
    publish();
}

bool frmOptions::proxyOk()
{
    if (parseProxySetting(m_text2->text()).kind != ProxyChoice::Invalid)
        return true;
    m_prompter.message(invalidProxyMessage());
    return false;
}

void frmOptions::publish()
{
    m_values.mnlNyusatu = m_chkMnlNyusatu->isChecked();
    bool ok = false;
    const int befSec = m_cmbefSec->currentText().toInt(&ok);
    if (ok && befSec > 0)
        m_values.befSec = befSec;
    m_values.catOn = m_chkCATOn->isChecked();
}

void frmOptions::cmdOK_Click()
{
    publish();
    const std::pair<const char *, QString> values[] = {
        {"promode", flag(m_check1)},
        {"ntp", m_txtntp->text()},
        {"min", flag(m_chkMin)},
        {"ClickHP", flag(m_chkClickHP)},
        {"CATOn", flag(m_chkCATOn)},
        {"BefSec", m_cmbefSec->currentText()},
        {"MnlNyusatu", flag(m_chkMnlNyusatu)},
        {"accesskankaku", m_combo1->currentText()},
        {"Proxy", m_text2->text()},
    };
    bool saved = true;
    for (const auto &[key, value] : values)
        saved = m_settings.save(kSettings, QString::fromLatin1(key), value) && saved;
    for (const auto &[key, box] : m_noticeBoxes)
        saved = m_settings.save(kSettings, key, flag(box)) && saved;
    saved = m_settings.save(kSettings, QStringLiteral("NotifySound"), flag(m_chkSound)) && saved;
    if (proxyOk())
        m_values.refreshIntervalSec = refreshIntervalFrom(m_settings);
    if (!saved || !m_settings.error().isEmpty()) {
        // The values hold until the program ends; the dialog stays open so the user knows
        // they will not be there next time.
        m_prompter.message(QStringLiteral("設定を設定ファイルに保存できませんでした。"
                                          "プログラムを終了するまでは有効です。\n") +
                           m_settings.error());
        return;
    }
    accept();
}

void frmOptions::cmdCancel_Click()
{
    reject();
}

} // namespace sw
