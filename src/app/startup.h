#pragma once

#include <QString>

namespace sw {

class SettingsStore;

// The clock-correction program named by the setting ntp: started detached when the value
// is at least 4 characters and names an existing file, never waited for. Returns whether
// it was started.
bool startClockProgram(const SettingsStore &settings);

// The refusal shown when another instance holds the data folder.
QString secondInstanceText(const QString &executableName);

} // namespace sw
