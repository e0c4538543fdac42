#pragma once

#include <QString>
#include <QStringList>

namespace sw {

class SettingsStore;

// Names of the user categories 1 to 9 (settings CAT1..CAT9, default the digit itself).
// Category "0" is 未分類 and has no name of its own.
class CategoryNames
{
public:
    explicit CategoryNames(SettingsStore &settings) : m_settings(settings) {}

    QString name(int n) const;
    // False when the name could not be written to the settings file.
    bool rename(int n, const QString &name);

    static QString allEntry() { return QStringLiteral("すべて"); }
    static QString unsortedEntry() { return QStringLiteral("未分類"); }
    static QString editorEntry() { return QStringLiteral("カテゴリの編集"); }

    // "1:name" .. "9:name".
    QStringList numberedNames() const;
    // The item list's selector: すべて, 未分類, 1:name .. 9:name, カテゴリの編集.
    QStringList listSelectorEntries() const;
    // The bid window's selector: 未分類, 1:name .. 9:name, カテゴリの編集 (index = cat).
    QStringList bidWindowSelectorEntries() const;

private:
    SettingsStore &m_settings;
};

} // namespace sw
