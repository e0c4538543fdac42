#include "settingsstore.h"

#include <QFileInfo>
#include <QLocale>
#include <QSettings>

namespace sw {

SettingsStore::SettingsStore(const QString &iniPath) : m_path(iniPath)
{
    const QFileInfo info(iniPath);
    if (info.exists() && (!info.isFile() || !info.isReadable())) {
        m_readOnly = true;
        m_error = QStringLiteral("設定ファイルを読めません：") + iniPath;
    }
    m_settings = std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
    if (!m_readOnly && m_settings->status() != QSettings::NoError) {
        m_readOnly = true;
        m_error = QStringLiteral("設定ファイルの形式が正しくありません：") + iniPath;
    }
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::foldKey(const QString &section, const QString &key)
{
    return section.toCaseFolded() + QLatin1Char('\n') + key.toCaseFolded();
}

QString SettingsStore::actualGroup(const QString &section) const
{
    const QStringList groups = m_settings->childGroups();
    for (const QString &g : groups) {
        if (g.compare(section, Qt::CaseInsensitive) == 0)
            return g;
    }
    return {};
}

QString SettingsStore::actualKey(const QString &group, const QString &key) const
{
    m_settings->beginGroup(group);
    const QStringList keys = m_settings->childKeys();
    m_settings->endGroup();
    for (const QString &k : keys) {
        if (k.compare(key, Qt::CaseInsensitive) == 0)
            return k;
    }
    return {};
}

QString SettingsStore::get(const QString &section, const QString &key, const QString &def) const
{
    const auto over = m_overlay.constFind(foldKey(section, key));
    if (over != m_overlay.constEnd())
        return *over;
    if (m_readOnly)
        return def;
    const QString group = actualGroup(section);
    if (group.isEmpty())
        return def;
    const QString k = actualKey(group, key);
    if (k.isEmpty())
        return def;
    return m_settings->value(group + QLatin1Char('/') + k, def).toString();
}

bool SettingsStore::save(const QString &section, const QString &key, const QString &value)
{
    if (m_readOnly) {
        m_overlay.insert(foldKey(section, key), value);
        return false;
    }
    QString group = actualGroup(section);
    if (group.isEmpty())
        group = section;
    QString k = actualKey(group, key);
    if (k.isEmpty())
        k = key;
    m_settings->setValue(group + QLatin1Char('/') + k, value);
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError) {
        m_overlay.insert(foldKey(section, key), value);
        m_error = QStringLiteral("設定ファイルに書き込めません：") + m_path;
        return false;
    }
    return true;
}

std::optional<bool> SettingsStore::toBool(const QString &text)
{
    const QString t = text.trimmed();
    if (t == QLatin1String("0") || t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    if (t == QLatin1String("1") || t == QLatin1String("-1") ||
        t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    return std::nullopt;
}

std::optional<int> SettingsStore::toInt(const QString &text)
{
    const QString t = text.trimmed();
    bool ok = false;
    int v = QLocale::system().toInt(t, &ok);
    if (!ok)
        v = QLocale::c().toInt(t, &ok);
    if (!ok)
        return std::nullopt;
    return v;
}

bool SettingsStore::getBool(const QString &section, const QString &key, bool def) const
{
    return toBool(get(section, key, QString())).value_or(def);
}

int SettingsStore::getInt(const QString &section, const QString &key, int def) const
{
    return toInt(get(section, key, QString())).value_or(def);
}

} // namespace sw
