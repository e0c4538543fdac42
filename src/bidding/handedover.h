#pragma once

#include "settingsstore.h"

#include <QString>
#include <QStringList>

namespace sw {

// Items handed over to a snipewell-service (入札サービスに任せる), by auction id, as the
// settings keep them ([Handover] Items): such an item is never armed here as well.
inline QStringList handedOverItems(const SettingsStore &settings)
{
    return settings.get(QStringLiteral("Handover"), QStringLiteral("Items"), QString())
        .split(QLatin1Char(','), Qt::SkipEmptyParts);
}

inline bool isHandedOver(const SettingsStore &settings, const QString &itemid)
{
    return handedOverItems(settings).contains(itemid);
}

inline void rememberHandedOver(SettingsStore &settings, const QString &itemid)
{
    QStringList items = handedOverItems(settings);
    if (!items.contains(itemid))
        items << itemid;
    settings.save(QStringLiteral("Handover"), QStringLiteral("Items"),
                  items.join(QLatin1Char(',')));
}

inline QString handedOverText()
{
    return QStringLiteral("入札サービスに任せました");
}

inline QString serviceVerdictPendingText()
{
    return QStringLiteral("入札サービスに任せました：結果は入札サービスから届きしだい表示します");
}

} // namespace sw
