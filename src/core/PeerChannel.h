#pragma once

// The four peer channels, numbered by their port's place after the base port: control on
// the base port, media on base + 1, quick messages on base + 2, chat on base + 3.
enum class PeerChannel { Control = 0, Media = 1, Message = 2, Chat = 3 };

// Where each channel listens and where a peer is called. Every port a program uses follows
// from its base port, so this is the one place that says how.
namespace PortPlan {

// The published base port: the control port unless the user chooses another.
inline constexpr int PublishedBase = 2000;

// The channels take consecutive ports from the base.
inline constexpr int ChannelCount = 4;

// While its base port is taken a program moves all four channels on by ChannelCount, at
// most this many times, so four programs fit on one machine (bases 2000 to 2012).
inline constexpr int MaxMoves = 3;

// The ports a program may take from the first base it tries, moves included.
inline constexpr int Span = ChannelCount * (MaxMoves + 1);

// The encrypted port is the base port + EncryptedOffset: above the four channel ports of
// every program that may run on the same machine (bases 2000, 2004, 2008 and 2012 give
// 2016, 2020, 2024 and 2028), so no program that speaks only the plain protocol listens
// there. The directory server's encrypted ports sit the same distance above its ports.
inline constexpr int EncryptedOffset = 16;
static_assert(EncryptedOffset >= Span, "the encrypted port must lie above every channel port");

constexpr int port(int base, PeerChannel channel)
{
    return base + int(channel);
}

// The base port of a peer whose `channel` is reached at `port`.
constexpr int base(int port, PeerChannel channel)
{
    return port - int(channel);
}

constexpr int encrypted(int port)
{
    return port + EncryptedOffset;
}

} // namespace PortPlan
