#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace sw {

// The tips file: one tip per line, empty lines included. UTF-8, or Shift_JIS when the
// bytes are not valid UTF-8. Nothing when the file is missing or unreadable.
std::optional<QStringList> readTips(const QString &path);

// Where the tips file is looked for, first match wins: the data folder, the program's own
// folder, then the installed data folder.
QStringList tipsFileCandidates(const QString &dataDir);

QString tipsFileName();
// What the window shows when no tips file is found.
QString missingTipsText();

} // namespace sw
