#include "demo.h"

#include "credentials.h"
#include "settingsstore.h"
#include "simsite.h"

#include <QFile>

namespace sw {

DemoSite::~DemoSite() = default;

std::unique_ptr<DemoSite> DemoSite::start(QString *error, bool classic)
{
    std::unique_ptr<DemoSite> demo(new DemoSite);
    if (!demo->m_dir.isValid()) {
        *error = QStringLiteral("デモ用のフォルダーを作れません：") + demo->m_dir.errorString();
        return nullptr;
    }
    QFile file(QStringLiteral(":/demo.json"));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("デモのシナリオを読めません。");
        return nullptr;
    }
    QString why;
    std::optional<sim::Scenario> scenario =
        sim::Scenario::fromJson(file.readAll(), QDateTime::currentDateTime(), &why);
    if (!scenario) {
        *error = QStringLiteral("デモのシナリオが壊れています：") + why;
        return nullptr;
    }
    if (classic)
        scenario->today = false;
    demo->m_site = std::make_unique<sim::SimSite>(std::move(*scenario));
    if (demo->m_site->listenOn() == 0) {
        *error = QStringLiteral("デモの模擬サイトを起動できません（ポートを開けません）。");
        return nullptr;
    }
    demo->m_site->setLogFile(demo->m_dir.filePath(QStringLiteral("site-requests.jsonl")));
    return demo;
}

AppPaths DemoSite::paths() const
{
    const QString data = m_dir.filePath(QStringLiteral("data"));
    return {data, data + QStringLiteral("/snipewell.ini")};
}

quint16 DemoSite::port() const
{
    return m_site->port();
}

QString DemoSite::proxySetting() const
{
    return QStringLiteral("HTTP=127.0.0.1:") + QString::number(port());
}

void DemoSite::prepareSettings(SettingsStore &settings) const
{
    const QString s = QStringLiteral("Settings");
    settings.save(s, QStringLiteral("yuser"), memberId());
    settings.save(s, QStringLiteral("ypass"), Scramble(memberPassword()));
    settings.save(s, QStringLiteral("Keyring"), QStringLiteral("0")); // not the user's keyring
    settings.save(s, QStringLiteral("Proxy"), proxySetting());
    // The demo site is plain http; the password stays on this machine.
    settings.save(QStringLiteral("Site"), QStringLiteral("Scheme"), QStringLiteral("http"));
    settings.save(s, QStringLiteral("BefSec"), QStringLiteral("10"));
    settings.save(s, QStringLiteral("ntp"), QString());
}

} // namespace sw
