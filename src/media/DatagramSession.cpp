#include "media/DatagramSession.h"

#include <openssl/rand.h>

QByteArray DatagramSession::newKey()
{
    QByteArray key(KeyBytes, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(key.data()), KeyBytes) != 1)
        return {};
    return key;
}
