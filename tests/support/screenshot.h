#pragma once

// Writes a window's picture into $SNIPEWELL_SCREENSHOTS (nothing when it is not set), for
// the pictures in the documentation.
#include <QDir>
#include <QWidget>

using namespace Qt::StringLiterals;

inline void saveScreenshot(QWidget *w, const char *name)
{
    const QString dir = qEnvironmentVariable("SNIPEWELL_SCREENSHOTS");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    w->grab().save(dir + QLatin1Char('/') + QString::fromLatin1(name) + u".png"_s);
}
