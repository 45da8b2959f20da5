#include "server/OperatorInput.h"

#include "core/DescriptorLines.h"

#include <QString>

#include <unistd.h>

OperatorInput::OperatorInput(int fd, QObject *parent)
    : QObject(parent)
{
    if (isatty(fd) && tcgetpgrp(fd) != getpgrp())
        return;
    auto *lines = new DescriptorLines(fd, MaxLineBytes, this);
    connect(lines, &DescriptorLines::lineRead, this, [this](const QByteArray &bytes) {
        const QString text = QString::fromUtf8(bytes).trimmed();
        if (!text.isEmpty())
            emit line(text);
    });
}
