#pragma once

#include "itemrecord.h"

#include <QDateTime>
#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace sw {

// Everything one tick of the bid scheduler looks at.
struct SchedulerInput
{
    QDateTime now;
    int befSec = 30;
    bool catOn = false;
    bool minimized = false;      // the main window shows the countdown in its caption
    bool loginPageShown = false; // the browser shows the site's login page
    bool browserLoading = false; // the browser is loading a page
    bool aboutOpen = false;
    QString title;
    // Running items with a quantity, latest end first.
    QList<ItemRecord> candidates;
    // Has the user already won an item of this category? nullopt: the query failed.
    std::function<std::optional<bool>(const QString &cat)> categoryWon;
    std::function<bool(int id)> windowOpen;
};

struct SchedulerOutput
{
    std::optional<QString> statusText;
    std::optional<QString> caption;
    bool showLogin = false;
    QList<ItemRecord> open; // a bid window for each, in this order
    QStringList logLines;
    QList<ItemRecord> unreadable; // rows whose end is no time: reported, left alone
};

// What the 3-second tick decides: the status text, and which items get a bid window.
SchedulerOutput schedulerTick(const SchedulerInput &in);

// Minute boundaries between now and t (negative when t has passed).
qint64 minutesLeft(const QDateTime &now, const QDateTime &t);

constexpr int kOpenWindowMinutes = 600;

// 整列: where each bid window goes, in a column along the right edge of the screen. The
// windows are given in the order they are arranged (last opened first); the column
// overlaps when the screen is too short for all of them.
QList<QPoint> arrangeColumn(const QList<QSize> &windows, const QSize &screen);

} // namespace sw
