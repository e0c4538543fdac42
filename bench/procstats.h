#pragma once

// Figures of running processes from /proc, for the benchmarks.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>
#include <QString>

namespace bench {

// A memory figure of a process, in KiB, from /proc: VmRSS (resident now) or VmHWM (peak).
inline qint64 statusKiB(qint64 pid, const QByteArray &key = "VmRSS:")
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

inline qint64 rssKiB(qint64 pid)
{
    return statusKiB(pid);
}

// Proportional set size, in KiB.
inline qint64 pssKiB(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

// All descendants of a process.
inline QList<qint64> descendants(qint64 pid)
{
    QList<qint64> out;
    const QStringList procs = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    QHash<qint64, qint64> parentOf;
    for (const QString &p : procs) {
        bool ok = false;
        const qint64 id = p.toLongLong(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(id));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray s = stat.readAll();
        const qsizetype close = s.lastIndexOf(')');
        const QList<QByteArray> fields = s.mid(close + 2).split(' ');
        if (fields.size() > 1)
            parentOf.insert(id, fields[1].toLongLong());
    }
    QList<qint64> frontier{pid};
    while (!frontier.isEmpty()) {
        const qint64 p = frontier.takeFirst();
        for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it) {
            if (it.value() == p) {
                out << it.key();
                frontier << it.key();
            }
        }
    }
    return out;
}

// A process and all its descendants, in proportional KiB.
inline qint64 treePssKiB(qint64 pid)
{
    qint64 total = pssKiB(pid);
    for (const qint64 child : descendants(pid))
        total += pssKiB(child);
    return total;
}

} // namespace bench
