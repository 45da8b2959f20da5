#pragma once

#include <QObject>

// Lines the operator types on the server's standard input, one notice each. Reading stops
// at the end of the input, and never starts on a terminal the server does not have in the
// foreground (it would stop the whole process).
class OperatorInput : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxLineBytes = 1024;

    explicit OperatorInput(int fd, QObject *parent = nullptr);

signals:
    // A line cut to MaxLineBytes, trimmed; empty lines are left out.
    void line(const QString &text);
};
