#pragma once

#include "apppaths.h"

#include <QTemporaryDir>

#include <memory>

namespace sim {
class SimSite;
}

namespace sw {

class SettingsStore;

// `snipewell --demo`: the simulated auction site on a free loopback port, playing the
// shipped demo scenario, and a data folder of the demo's own (removed when the program
// ends), so that nothing of the user's real data or the real site is touched.
class DemoSite
{
public:
    ~DemoSite();

    // Starts the site, today's pages unless classic; nothing (and the reason in `error`)
    // when it cannot.
    static std::unique_ptr<DemoSite> start(QString *error, bool classic = false);

    AppPaths paths() const;
    quint16 port() const;
    QString proxySetting() const; // "HTTP=127.0.0.1:port"
    // The demo member's ID and password, the proxy and a comfortable bid lead time.
    void prepareSettings(SettingsStore &settings) const;

    static QString memberId() { return QStringLiteral("demo_taro"); }
    static QString memberPassword() { return QStringLiteral("demo1234"); }

private:
    DemoSite() = default;
    QTemporaryDir m_dir;
    std::unique_ptr<sim::SimSite> m_site;
};

} // namespace sw
