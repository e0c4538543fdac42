#include "frmtip.h"

#include "settingsstore.h"
#include "tips.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QVBoxLayout>

namespace sw {

namespace {
const QString kOptions = QStringLiteral("Options");
const QString kShowTips = QStringLiteral("Show Tips at Startup");
} // namespace

frmTip::frmTip(SettingsStore &settings, const QStringList &candidates, QWidget *parent)
    : QWidget(parent), m_settings(settings), m_tip(new QLabel(this)),
      m_check(new QCheckBox(QStringLiteral("起動時にﾜﾝﾎﾟｲﾝﾄを表示する(&S)"), this))
{
    setObjectName(QStringLiteral("frmTip"));
    setWindowTitle(QStringLiteral("ﾜﾝﾎﾟｲﾝﾄ"));
    m_tip->setObjectName(QStringLiteral("lblTipText"));
    m_tip->setWordWrap(true);
    m_tip->setMinimumSize(360, 120);
    m_tip->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_check->setObjectName(QStringLiteral("chkLoadTipsAtStartup"));
    auto *next = new QPushButton(QStringLiteral("次を表示(&N)"), this);
    next->setObjectName(QStringLiteral("cmdNextTip"));
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    auto *heading = new QLabel(QStringLiteral("便利な使い方..."), this);
    heading->setObjectName(QStringLiteral("Label1"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(m_tip, 1);
    auto *row = new QHBoxLayout;
    row->addWidget(m_check);
    row->addStretch();
    row->addWidget(next);
    row->addWidget(ok);
    layout->addLayout(row);

    connect(next, &QPushButton::clicked, this, &frmTip::nextTip);
    connect(ok, &QPushButton::clicked, this, &QWidget::close);

    // The setting only decides the showing at start-up; from the menu the tips always show.
    m_wanted = m_settings.getInt(kOptions, kShowTips, 1) != 0;
    m_check->setChecked(m_wanted);
    connect(m_check, &QCheckBox::toggled, this, [this](bool on) {
        m_settings.save(kOptions, kShowTips, on ? QStringLiteral("1") : QStringLiteral("0"));
    });
    QString file;
    for (const QString &c : candidates) {
        if (QFileInfo::exists(c)) {
            file = c;
            break;
        }
    }
    if (!LoadTips(file))
        m_tip->setText(missingTipsText());
}

bool frmTip::LoadTips(const QString &fileName)
{
    const std::optional<QStringList> tips = readTips(fileName);
    if (!tips)
        return false;
    m_tips = *tips;
    nextTip();
    return true;
}

void frmTip::nextTip()
{
    if (m_tips.isEmpty())
        return;
    m_current = int(QRandomGenerator::global()->bounded(qsizetype(m_tips.size()))) + 1;
    DisplayCurrentTip();
}

void frmTip::DisplayCurrentTip()
{
    if (m_current >= 1 && m_current <= m_tips.size())
        m_tip->setText(m_tips[m_current - 1]);
}

QString frmTip::tipText() const
{
    return m_tip->text();
}

} // namespace sw
