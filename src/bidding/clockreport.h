#pragma once

#include <QObject>
#include <QString>

#include <optional>

class QTimer;

namespace sw {

class ActivityLog;

// Tells the user how the machine's clock stands against the site's: a text for the status
// bar, and a log line when the difference is over a second, when it cannot be measured,
// and when the machine's clock jumps.
class ClockReport : public QObject
{
    Q_OBJECT
public:
    explicit ClockReport(ActivityLog &log, QObject *parent = nullptr);

    // "サイトの時計との差：+3.2秒", or why there is no figure yet.
    QString statusText() const;
    static QString offsetText(std::optional<qint64> offsetMs);

signals:
    void statusChanged(const QString &text);
    // The machine's clock is more than a second from the site's (said once per change).
    void farOff(const QString &text);

private:
    void onOffsetChanged();
    void checkJump();

    ActivityLog &m_log;
    QTimer *m_timer;
    std::optional<qint64> m_logged; // the offset last written to the log
    bool m_unreadable = false;
};

} // namespace sw
