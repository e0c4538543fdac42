#include "categories.h"

#include "settingsstore.h"

namespace sw {

QString CategoryNames::name(int n) const
{
    return m_settings.get(QStringLiteral("Settings"), QStringLiteral("CAT") + QString::number(n),
                          QString::number(n));
}

bool CategoryNames::rename(int n, const QString &name)
{
    return m_settings.save(QStringLiteral("Settings"), QStringLiteral("CAT") + QString::number(n),
                           name);
}

QStringList CategoryNames::numberedNames() const
{
    QStringList entries;
    for (int n = 1; n <= 9; ++n)
        entries << QString::number(n) + QLatin1Char(':') + name(n);
    return entries;
}

QStringList CategoryNames::listSelectorEntries() const
{
    return QStringList{allEntry(), unsortedEntry()} + numberedNames() + QStringList{editorEntry()};
}

QStringList CategoryNames::bidWindowSelectorEntries() const
{
    return QStringList{unsortedEntry()} + numberedNames() + QStringList{editorEntry()};
}

} // namespace sw
