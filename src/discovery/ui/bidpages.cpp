// `snipewell --bid-pages`: the page route's child. It reads its orders on standard input
// and says what happened on standard output, one JSON object a line: a channel only the
// program that started it can use. It keeps no state of its own beyond the pages it holds.
#include "bidpages.h"

#include "appcontext.h"
#include "browsercookies.h"
#include "cookiejar.h"
#include "pagebidder.h"

#include "stdinlines.h"
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include <cstdio>

namespace sw {

namespace {

void say(const QJsonObject &o)
{
    const QByteArray line = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
    std::fflush(stdout);
}

QCoro::Task<> prepareOne(PageBidder &bidder, QJsonObject order)
{
    const int id = order.value(QStringLiteral("id")).toInt();
    const PageBidder::Prepared r =
        co_await bidder.prepare(id, order.value(QStringLiteral("url")).toString(),
                                qint64(order.value(QStringLiteral("amount")).toDouble()),
                                order.value(QStringLiteral("quantity")).toInt(1),
                                order.value(QStringLiteral("confirm")).toBool());
    say({{QStringLiteral("ev"), QStringLiteral("prepared")},
         {QStringLiteral("id"), id},
         {QStringLiteral("ok"), r.ok},
         {QStringLiteral("kind"), r.kind},
         {QStringLiteral("why"), r.why},
         {QStringLiteral("said"), r.said},
         {QStringLiteral("shown"), r.shown},
         {QStringLiteral("ms"), double(r.ms)}});
}

QCoro::Task<> pressOne(PageBidder &bidder, QJsonObject order)
{
    const int id = order.value(QStringLiteral("id")).toInt();
    const PageBidder::Answer a =
        co_await bidder.press(id, qint64(order.value(QStringLiteral("amount")).toDouble()));
    say({{QStringLiteral("ev"), QStringLiteral("answer")},
         {QStringLiteral("id"), id},
         {QStringLiteral("pressed"), a.pressed},
         {QStringLiteral("text"), a.text},
         {QStringLiteral("timedOut"), a.timedOut},
         {QStringLiteral("why"), a.why},
         {QStringLiteral("ms"), double(a.ms)},
         {QStringLiteral("aheadMs"), double(a.aheadMs)}});
}

} // namespace

int runBidPages(AppContext &ctx)
{
    QWebEngineProfile *profile = QWebEngineProfile::defaultProfile();
    // The program's login: the cookies of its data folder, also when it logs in again.
    new BrowserCookies(ctx.cookies, profile->cookieStore(), &ctx.cookies);
    PageBidder bidder(profile);
    StdinLines orders;
    // The program that started us is gone: nothing more can come.
    QObject::connect(&orders, &StdinLines::closed, &bidder, [] { QCoreApplication::exit(0); });
    QObject::connect(&orders, &StdinLines::line, &bidder, [&](const QByteArray &line) {
        const QJsonObject order = QJsonDocument::fromJson(line).object();
        const QString cmd = order.value(QStringLiteral("cmd")).toString();
        if (cmd == QLatin1String("prepare")) {
            prepareOne(bidder, order);
        } else if (cmd == QLatin1String("press")) {
            pressOne(bidder, order);
        } else if (cmd == QLatin1String("close")) {
            bidder.close(order.value(QStringLiteral("id")).toInt());
        } else if (cmd == QLatin1String("cookies")) {
            ctx.cookies.reload();
            for (const QNetworkCookie &c : ctx.cookies.cookies())
                profile->cookieStore()->setCookie(c);
        } else if (cmd == QLatin1String("quit")) {
            QCoreApplication::exit(0);
        }
    });
    say({{QStringLiteral("ev"), QStringLiteral("ready")}});
    return QCoreApplication::exec();
}

} // namespace sw

extern "C" Q_DECL_EXPORT int snipewell_run_bid_pages(sw::AppContext &ctx)
{
    return sw::runBidPages(ctx);
}
