#pragma once

// The pieces every page of today's simulated site is made of.
#include "simscenario.h"

#include <QString>

namespace sim {

QString esc(const QString &text);
// scheme://host of the scenario.
QString origin(const Scenario &s, const QString &host);
// The page's start, up to its body: UTF-8, the title, and `extra` in the head.
QString head(const QString &title, const QString &extra = QString());

} // namespace sim
