// The known peers' file as found in the profile folder: whatever it holds, what is read
// back is bounded, writes and reads again to the same peers, and judges keys the same way.
#include "FuzzSupport.h"

#include "secure/KnownPeers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = FuzzSupport::scratchPath(KnownPeers::FileName);
    FuzzSupport::writeFile(path, FuzzSupport::bytes(data, size));

    KnownPeers first;
    first.load(path);
    FUZZ_CHECK(first.peers().size() <= KnownPeers::MaxPeers);
    FUZZ_CHECK(!first.save(path));
    const QByteArray saved = FuzzSupport::readFile(path);
    KnownPeers second;
    second.load(path);
    FUZZ_CHECK(second.peers().size() == first.peers().size());
    for (int i = 0; i < first.peers().size(); ++i) {
        const KnownPeers::Peer &p = first.peers().at(i);
        const KnownPeers::Peer &q = second.peers().at(i);
        FUZZ_CHECK(p.who == q.who && p.key == q.key && p.verified == q.verified && p.lastAddress == q.lastAddress);
        FUZZ_CHECK(p.key.size() == 32);
        FUZZ_CHECK(second.check(p.who, p.key) == KnownPeers::Seen::Same);
        FUZZ_CHECK(second.isVerified(p.who, p.key) == p.verified);
    }
    FUZZ_CHECK(!second.save(path));
    FUZZ_CHECK(FuzzSupport::readFile(path) == saved);
    // A peer seen anew after all of them is the latest, whatever the file held.
    second.remember(QStringLiteral("new@example.org"), QByteArray(32, 'n'), QStringLiteral("192.0.2.1"));
    FUZZ_CHECK(second.peers().size() <= KnownPeers::MaxPeers);
    FUZZ_CHECK(second.peers().last().who == QStringLiteral("new@example.org"));
    return 0;
}
