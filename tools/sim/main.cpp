#include "simsite.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("snipewell-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SNIPEWELL_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The simulated auction site for Snipewell: an HTTP server (also an HTTP proxy) that "
        "answers like the auction site."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address and port to listen on."),
                                    QStringLiteral("ADDR:PORT"), QStringLiteral("127.0.0.1:0"));
    const QCommandLineOption scenario(QStringLiteral("scenario"),
                                      QStringLiteral("Scenario file (JSON)."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Request log, one JSON line per request."),
                                 QStringLiteral("FILE"));
    parser.addOptions({listen, scenario, log});
    parser.process(app);

    if (!parser.isSet(scenario)) {
        std::fprintf(stderr, "snipewell-sim: --scenario FILE is required\n");
        return 2;
    }
    QFile f(parser.value(scenario));
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "snipewell-sim: cannot read %s\n", qPrintable(f.fileName()));
        return 2;
    }
    QString error;
    auto s = sim::Scenario::fromJson(f.readAll(), QDateTime::currentDateTime(), &error);
    if (!s) {
        std::fprintf(stderr, "snipewell-sim: %s\n", qPrintable(error));
        return 2;
    }
    const QString addr = parser.value(listen);
    const qsizetype colon = addr.lastIndexOf(QLatin1Char(':'));
    const QHostAddress host(colon > 0 ? addr.left(colon) : addr);
    const quint16 port = colon > 0 ? quint16(addr.mid(colon + 1).toUInt()) : 0;
    sim::SimSite site(*s);
    if (parser.isSet(log) && !site.setLogFile(parser.value(log))) {
        std::fprintf(stderr, "snipewell-sim: cannot write %s\n", qPrintable(parser.value(log)));
        return 2;
    }
    const quint16 bound = site.listenOn(host, port);
    if (bound == 0) {
        std::fprintf(stderr, "snipewell-sim: cannot listen on %s\n", qPrintable(addr));
        return 1;
    }
    std::printf("snipewell-sim listening on %s:%u\n", qPrintable(host.toString()), bound);
    std::fflush(stdout);
    return app.exec();
}
