#pragma once

#include <QHash>
#include <QString>

#include <memory>
#include <optional>

class QSettings;

namespace sw {

// Per-user settings: text values addressed by section and key. Section and key names
// compare without regard to case, so "BefSec" written and "Befsec" read are one key;
// a write reuses whatever spelling the file already has.
//
// A settings file that exists but cannot be read is never overwritten: the store then
// answers with the readers' defaults, keeps writes in memory for this run and says so
// through error().
class SettingsStore
{
public:
    explicit SettingsStore(const QString &iniPath);
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    QString get(const QString &section, const QString &key, const QString &def) const;
    // False when the value could not be written to disk (it is still held for this run).
    bool save(const QString &section, const QString &key, const QString &value);

    // "0" is false, "1" or "-1" true; anything else gives the default.
    bool getBool(const QString &section, const QString &key, bool def) const;
    // Decimal text in the user's locale or plain digits; anything else gives the default.
    int getInt(const QString &section, const QString &key, int def) const;

    // Empty while the store reads and writes its file normally.
    QString error() const { return m_error; }
    QString path() const { return m_path; }

    static std::optional<bool> toBool(const QString &text);
    static std::optional<int> toInt(const QString &text);

private:
    QString actualGroup(const QString &section) const;
    QString actualKey(const QString &group, const QString &key) const;
    static QString foldKey(const QString &section, const QString &key);

    QString m_path;
    QString m_error;
    bool m_readOnly = false;
    std::unique_ptr<QSettings> m_settings;
    QHash<QString, QString> m_overlay; // values written while the file is unusable
};

} // namespace sw
