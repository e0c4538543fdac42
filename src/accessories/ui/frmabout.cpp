#include "frmabout.h"

#include "prompter.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QVBoxLayout>

namespace sw {

frmAbout::frmAbout(bool &aboutOpen, Prompter &prompter, QWidget *parent)
    : QDialog(parent), m_aboutOpen(aboutOpen), m_prompter(prompter)
{
    setObjectName(QStringLiteral("frmAbout"));
    const QString title = QStringLiteral("Snipewell");
    setWindowTitle(title + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));
    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("picIcon"));
    const QIcon programIcon = QApplication::windowIcon();
    icon->setPixmap(programIcon.isNull()
                        ? style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(48, 48)
                        : programIcon.pixmap(48, 48));
    auto *lblTitle = new QLabel(title, this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont big = lblTitle->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    lblTitle->setFont(big);
    auto *lblVersion = new QLabel(versionText(QStringLiteral(SNIPEWELL_VERSION)), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    auto *sysInfo = new QPushButton(QStringLiteral("ｼｽﾃﾑ情報(&S)..."), this);
    sysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(sysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);

    auto *text = new QVBoxLayout;
    text->addWidget(lblTitle);
    text->addWidget(lblVersion);
    text->addStretch();
    auto *top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(text, 1);
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(sysInfo);
    buttons->addStretch();
    top->addLayout(buttons);
    setLayout(top);
    setMinimumWidth(360);
    m_aboutOpen = true;
}

frmAbout::~frmAbout()
{
    m_aboutOpen = false;
}

QString frmAbout::versionText(const QString &version)
{
    // Major, minor and the last part (the revision); a build number in between is not shown.
    const QStringList parts = version.split(QLatin1Char('.'));
    auto part = [&parts](qsizetype i) -> QString {
        return i < parts.size() ? QString::number(parts[i].toInt()) : QStringLiteral("0");
    };
    const QString revision = parts.size() >= 4 ? part(3) : part(2);
    return QStringLiteral("ﾊﾞｰｼﾞｮﾝ ") + part(0) + QLatin1Char('.') + part(1) + QLatin1Char('.') +
           revision;
}

QString frmAbout::systemInfoViewer()
{
    const char *const viewers[] = {"hardinfo", "kinfocenter", "gnome-system-monitor",
                                   "xfce4-taskmanager", "lxtask"};
    for (const char *name : viewers) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return {};
}

void frmAbout::StartSysInfo()
{
    const QString viewer = systemInfoViewer();
    if (viewer.isEmpty() || !QProcess::startDetached(viewer, {}))
        m_prompter.message(QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"));
}

} // namespace sw
