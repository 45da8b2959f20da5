#include "support/TestSupport.h"

#include <QFile>
#include <QtGlobal>

namespace TestSupport {

int portBlock(int span)
{
    static int used = 0;
    const int base = qEnvironmentVariableIsSet("ZELMO_TEST_PORT_BASE")
                         ? qEnvironmentVariableIntValue("ZELMO_TEST_PORT_BASE")
                         : 40000;
    const int port = base + used;
    used += span;
    Q_ASSERT(used <= 400);
    return port;
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

} // namespace TestSupport
