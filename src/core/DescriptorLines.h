#pragma once

#include "core/LineCutter.h"

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// The lines that arrive on a file descriptor (standard input, a pipe), each as soon as its
// "\n" does. Reading stops at the end of the input or at an error. Nothing is held without
// bound: a line longer than the limit comes out as its first maxLineBytes, marked cut, and
// the rest of it is skipped.
class DescriptorLines : public QObject
{
    Q_OBJECT

public:
    DescriptorLines(int fd, int maxLineBytes, QObject *parent = nullptr);

signals:
    void lineRead(const QByteArray &text, bool cut);

private:
    void readSome();

    int m_fd;
    QSocketNotifier *m_notifier;
    LineCutter m_cutter;
    bool m_skipping = false;
};
