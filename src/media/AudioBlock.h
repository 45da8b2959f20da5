#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <array>
#include <cstring>

// One sound block of the send or play queue: a fixed data area and the number of bytes
// in use. The engines may write into data directly and set count themselves.
struct AudioBlock
{
    static constexpr int DataBytes = 2000;

    // Left unset: only the first count bytes are ever read, and the queues' hundred-odd
    // blocks would otherwise be written through before the program can listen.
    alignas(qint16) std::array<uchar, DataBytes> data;
    qint32 count = 0;

    // Copies bytes into the data area. Anything past DataBytes is cut off, so a block never
    // overflows; returns the count kept.
    qint32 store(QByteArrayView bytes)
    {
        count = qint32(std::min<qsizetype>(bytes.size(), DataBytes));
        if (count > 0)
            std::memcpy(data.data(), bytes.data(), size_t(count));
        return count;
    }

    // The bytes in use; a count outside the data area is read as what fits.
    QByteArray bytes() const
    {
        const int n = std::clamp<qint32>(count, 0, DataBytes);
        return QByteArray(reinterpret_cast<const char *>(data.data()), n);
    }
};
