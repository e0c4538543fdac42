#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

namespace sw {

// The lines that come on standard input, each as soon as it is whole: a child's orders from
// the program that started it. Read straight from the descriptor, so that lines that came
// together are all taken (a buffered stream would keep the second one until more came).
class StdinLines : public QObject
{
    Q_OBJECT
public:
    explicit StdinLines(QObject *parent = nullptr);

signals:
    void line(const QByteArray &line);
    void closed(); // the other end went away

private:
    void readable();
    QSocketNotifier *m_notifier;
    QByteArray m_buffer;
};

} // namespace sw
