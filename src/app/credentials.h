#pragma once

#include <QString>

#include <optional>

namespace sw {

class SettingsStore;
struct AppValues;

// The password as stored in the settings: a reversible scramble, so it never stands in
// the file as typed. The same password scrambles differently in different seconds.
//
// A "%" typed in the password is doubled before scrambling, which keeps it apart from
// the run and split markers; Unscramble undoes it.
constexpr int kMaxPasswordLength = 99;

// Scrambles 1..99 characters; `seconds` picks the split point (the clock's seconds).
QString Scramble(const QString &plain, int seconds);
QString Scramble(const QString &plain);
// nullopt when the stored text is not a scrambled password; "" for an empty one.
std::optional<QString> UnscrambleChecked(const QString &stored);
QString Unscramble(const QString &stored);

// "%" + upper-case hexadecimal code per character (UTF-8 bytes for non-ASCII).
QString encodePassword(const QString &plain);

// Reads yuser and ypass into memory and builds the encoded password.
void loadCredentials(const SettingsStore &settings, AppValues &values);

} // namespace sw
