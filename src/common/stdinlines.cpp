#include "stdinlines.h"

#include <QSocketNotifier>

#include <unistd.h>

namespace sw {

StdinLines::StdinLines(QObject *parent)
    : QObject(parent), m_notifier(new QSocketNotifier(0, QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &StdinLines::readable);
}

void StdinLines::readable()
{
    char chunk[4096];
    const ssize_t n = ::read(0, chunk, sizeof chunk);
    if (n <= 0) {
        m_notifier->setEnabled(false);
        emit closed();
        return;
    }
    m_buffer.append(chunk, qsizetype(n));
    for (qsizetype end = m_buffer.indexOf('\n'); end >= 0; end = m_buffer.indexOf('\n')) {
        const QByteArray one = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        emit line(one);
    }
    // A line longer than any order is no order: dropped rather than kept growing.
    if (m_buffer.size() > 1024 * 1024)
        m_buffer.clear();
}

} // namespace sw
