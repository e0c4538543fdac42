#pragma once

// The simulated site over https: its test certificate, and this process trusting the test
// authority that signed it. Include from suites that link the simulator.
#include "simsite.h"

#include <QFile>
#include <QSslConfiguration>

using namespace Qt::StringLiterals;

inline QByteArray testTlsFile(const char *name)
{
    QFile f(QStringLiteral(SW_TEST_TLS_DIR "/") + QString::fromLatin1(name));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("the test certificate %s is missing", name);
    return f.readAll();
}

inline void serveTls(sim::SimSite &site)
{
    site.enableTls(QSslCertificate(testTlsFile("site.pem")),
                   QSslKey(testTlsFile("site.key"), QSsl::Rsa));
    site.scenario().scheme = u"https"_s;
}

// Until this is called, the fetchers of this process refuse the simulated site's certificate.
inline void trustTestAuthority()
{
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.addCaCertificates(QList<QSslCertificate>{QSslCertificate(testTlsFile("ca.pem"))});
    QSslConfiguration::setDefaultConfiguration(c);
}
