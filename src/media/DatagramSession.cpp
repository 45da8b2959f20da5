#include "media/DatagramSession.h"

#include <QRandomGenerator>

QByteArray DatagramSession::newKey()
{
    // The system's generator is the kernel's, fit for keys; the encryption library is not
    // loaded for this alone.
    quint32 words[(KeyBytes + 3) / 4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char *>(words), KeyBytes);
}
