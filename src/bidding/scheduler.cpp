#include "scheduler.h"

#include "siteclock.h"
#include "sitehosts.h"

namespace sw {

namespace {
QDateTime toMinute(const QDateTime &at)
{
    const QDateTime t = inSiteZone(at);
    return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute()), siteZone());
}
} // namespace

qint64 minutesLeft(const QDateTime &now, const QDateTime &t)
{
    return toMinute(now).secsTo(toMinute(t)) / 60;
}

SchedulerOutput schedulerTick(const SchedulerInput &in)
{
    SchedulerOutput out;
    if (!in.aboutOpen && in.loginPageShown) {
        out.showLogin = true;
        return out;
    }
    if (in.candidates.isEmpty()) {
        out.caption = in.title;
        out.statusText = QStringLiteral("入札画面以外の入札の予定はありません。") + in.title;
        return out;
    }
    for (const ItemRecord &row : in.candidates) {
        if (!row.enddate.isValid() || !SiteHosts::isServerId(row.Serverid) ||
            !SiteHosts::isItemId(row.itemid)) {
            out.unreadable << row;
            continue;
        }
        bool candidate = true;
        if (in.catOn) {
            if (row.cat.toInt() > 0) {
                const std::optional<bool> won = in.categoryWon ? in.categoryWon(row.cat) : false;
                if (won.has_value() && !*won) {
                    out.statusText =
                        row.itemid +
                        QStringLiteral(":まだカテゴリの中の１つも落札していないの入札する");
                } else if (won.has_value()) {
                    out.statusText =
                        row.itemid +
                        QStringLiteral(":カテゴリの中の１つ以上を落札しているので入札しない");
                    candidate = false;
                } else {
                    candidate = false; // the query failed: skip the row, try again next tick
                }
            } else {
                out.statusText = row.itemid + QStringLiteral(":カテゴリをセットしていない");
            }
        }
        if (!candidate)
            continue;
        const QDateTime bidTime = row.enddate.addSecs(-in.befSec);
        const qint64 minutes = minutesLeft(in.now, bidTime);
        if (in.minimized)
            out.caption =
                QStringLiteral("Snipewell - ") + QString::number(minutes) + QStringLiteral("分");
        else
            out.statusText = QStringLiteral("次回の入札予定時刻まであと、") +
                             QString::number(minutes) + QStringLiteral("分 ");
        if (minutes >= kOpenWindowMinutes)
            continue;
        if (in.windowOpen && in.windowOpen(row.id))
            continue;
        if (in.loginPageShown) {
            if (!in.aboutOpen)
                out.showLogin = true;
            continue;
        }
        if (in.browserLoading)
            continue;
        out.logLines << QStringLiteral("入札準備開始：") + row.itemid;
        out.open << row;
    }
    return out;
}

} // namespace sw

namespace sw {

QList<QPoint> arrangeColumn(const QList<QSize> &windows, const QSize &screen)
{
    QList<QPoint> at;
    if (windows.isEmpty())
        return at;
    int total = 0;
    for (const QSize &w : windows)
        total += w.height();
    const int n = int(windows.size());
    const int step = total >= screen.height() && n > 1
                         ? (screen.height() - windows.last().height()) / (n - 1)
                         : windows.first().height();
    for (int k = 0; k < n; ++k)
        at << QPoint(screen.width() - windows[k].width(), k * step);
    return at;
}

} // namespace sw
