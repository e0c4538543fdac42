#pragma once

#include <QTemporaryDir>
#include <QTest>

// A fresh folder per test, removed afterwards.
struct TempHome
{
    QTemporaryDir dir;
    QString path(const QString &name = {}) const
    {
        return name.isEmpty() ? dir.path() : dir.path() + QLatin1Char('/') + name;
    }
};
