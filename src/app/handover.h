#pragma once

#include "handedover.h"
#include "itemrecord.h"

#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

namespace sw {

class SettingsStore;

// 入札サービスに任せる: an item and its limits go to a snipewell-service (its address and
// access token are the settings [Handover] Url and Token) through its API; the local copy is
// then never armed here. No widgets.
struct HandOverResult
{
    bool ok = false;
    QString message; // for the user, in either case
};

// The address of the service the user named, or empty.
QString handOverUrl(const SettingsStore &settings);
QCoro::Task<HandOverResult> handOverToService(const SettingsStore &settings, ItemRecord item,
                                              QString itemPage);

} // namespace sw
