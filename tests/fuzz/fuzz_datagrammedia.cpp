// One datagram from the network into a call's datagram path: the length checks, the
// split into RTP and RTCP, decryption with the peer's key and what lies behind it. The
// seeds are real datagrams sent with the keys below, so mutations of their headers reach
// the decryption's parsing.
#include "FuzzSupport.h"

#include "datagrams/DatagramMedia.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSupport::application("fuzz_datagrammedia");
    // The keys make_seeds sends the seeds with: this end takes what 'a' sent.
    static DatagramMedia receiver(QByteArray(DatagramMedia::KeyBytes, 'b'), QByteArray(DatagramMedia::KeyBytes, 'a'));
    FUZZ_CHECK(receiver.isValid());
    const QByteArray datagram = FuzzSupport::bytes(data, size);
    const int refusedBefore = receiver.datagramsRefused();
    receiver.takeDatagram(datagram);
    const bool outOfBounds = datagram.size() < 12 || datagram.size() > DatagramMedia::MaxDatagramBytes;
    FUZZ_CHECK(receiver.datagramsRefused() == refusedBefore + (outOfBounds ? 1 : 0));
    // What the pipeline hands back (pictures, sound, our own reports) comes queued.
    QCoreApplication::processEvents();
    return 0;
}
