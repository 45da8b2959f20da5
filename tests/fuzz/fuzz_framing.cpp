// The endpoints' framing: a byte stream cut into lines at a terminator, read from the
// socket the way an endpoint reads it (never more than the cutter has room for).
//
// Input: a terminator choice, a limit choice, a chunking seed, then the stream.
#include "FuzzSupport.h"

#include "core/LineCutter.h"

#include <vector>

namespace {

struct Piece
{
    QByteArray text;
    bool complete;
    bool operator==(const Piece &) const = default;
};

// Feeds the stream in chunks of at most maxChunk bytes (a varying size when maxChunk is 0)
// and takes every line out as soon as it can.
std::vector<Piece> cut(const QByteArray &terminator, int limit, const QByteArray &stream, int maxChunk,
                       uint32_t seed, qsizetype *heldAtEnd)
{
    LineCutter cutter;
    cutter.setTerminator(terminator);
    cutter.setLimit(limit);
    std::vector<Piece> pieces;
    qsizetype at = 0;
    for (;;) {
        QByteArray text;
        bool complete = false;
        while (cutter.next(&text, &complete)) {
            FUZZ_CHECK(text.size() <= limit);
            FUZZ_CHECK(!terminator.isEmpty() || !complete);
            pieces.push_back({text, complete});
        }
        FUZZ_CHECK(cutter.held() <= qsizetype(limit) + terminator.size());
        if (at >= stream.size())
            break;
        // The endpoint would stop reading for good if there were no room left.
        FUZZ_CHECK(terminator.isEmpty() || cutter.room() >= 1);
        seed = seed * 1103515245u + 12345u;
        const qsizetype chunk = maxChunk > 0 ? maxChunk : 1 + qsizetype((seed >> 16) % 97);
        const QByteArray part = stream.mid(at, std::min(chunk, std::max<qsizetype>(cutter.room(), 1)));
        cutter.append(part);
        at += part.size();
    }
    *heldAtEnd = cutter.held();
    return pieces;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSupport::Choices input(FuzzSupport::bytes(data, size));
    static const QByteArray terminators[] = {"<E>", "<ET>", "", "\r\n", "aab"};
    const QByteArray terminator = terminators[input.take() % std::size(terminators)];
    const uint8_t limitChoice = input.take();
    const int limit = limitChoice < 200 ? 1 + limitChoice % 40 : 32768;
    const uint32_t seed = input.take();
    const QByteArray stream = input.rest();

    qsizetype held = 0;
    const std::vector<Piece> pieces = cut(terminator, limit, stream, 0, seed, &held);
    // Nothing is lost or made up: the pieces and the terminators they ended at, followed by
    // what is still held, are the stream.
    QByteArray again;
    for (const Piece &piece : pieces)
        again += piece.text + (piece.complete ? terminator : QByteArray());
    FUZZ_CHECK(again.size() + held == stream.size() && stream.startsWith(again));

    // With a terminator the lines do not depend on how the stream was split.
    if (!terminator.isEmpty()) {
        qsizetype heldWhole = 0;
        qsizetype heldBytewise = 0;
        FUZZ_CHECK(cut(terminator, limit, stream, 1 << 20, 0, &heldWhole) == pieces);
        FUZZ_CHECK(cut(terminator, limit, stream, 1, 0, &heldBytewise) == pieces);
        FUZZ_CHECK(heldWhole == held && heldBytewise == held);
    }
    return 0;
}
