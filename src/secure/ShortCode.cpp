#include "secure/ShortCode.h"

#include <QCryptographicHash>
#include <QStringList>

#include <array>

namespace {

// 256 everyday words that sound unlike each other, so two people can read them to each other.
constexpr std::array<const char *, 256> Words = {
    "acid", "acorn", "actor", "adult", "agent", "alarm", "album", "alley", "amber", "anchor", "angel", "ankle",
    "apple", "apron", "arrow", "atlas", "attic", "autumn", "award", "bacon", "badge", "bagel", "baker",
    "bamboo", "banjo", "barrel", "basil", "basket", "beach", "beard", "beaver", "beetle", "berry", "bicycle",
    "bishop", "blade", "blanket", "bloom", "blossom", "boat", "bottle", "brass", "bread", "brick", "bridge",
    "broom", "bubble", "bucket", "buffalo", "bunny", "button", "cabin", "cactus", "camel", "canal", "candle",
    "canoe", "canyon", "carpet", "carrot", "castle", "cedar", "cello", "chalk", "cherry", "chess", "chimney",
    "cider", "circus", "clock", "cloud", "clover", "cobra", "cobweb", "coffee", "comet", "copper", "coral",
    "cotton", "cowboy", "crayon", "cricket", "crown", "cup", "curtain", "daisy", "dancer", "desert", "diamond",
    "dinner", "doctor", "dolphin", "donkey", "dragon", "drum", "dune", "eagle", "easel", "echo", "elbow",
    "engine", "falcon", "feather", "fern", "ferry", "fiddle", "finger", "flag", "flute", "forest", "fossil",
    "fountain", "fox", "garden", "garlic", "giant", "ginger", "glacier", "globe", "goat", "goose", "grape",
    "guitar", "hammer", "harbor", "harp", "hawk", "helmet", "hermit", "honey", "horse", "hotel", "igloo",
    "island", "ivory", "jacket", "jaguar", "jelly", "jigsaw", "jungle", "kayak", "kettle", "kitten", "koala",
    "ladder", "lagoon", "lantern", "lemon", "lilac", "lion", "lizard", "llama", "lobster", "magnet", "mango",
    "maple", "marble", "meadow", "melon", "mirror", "mitten", "monkey", "moose", "mountain", "muffin",
    "museum", "needle", "nest", "nickel", "noodle", "oasis", "ocean", "olive", "onion", "orange", "orchid",
    "otter", "oven", "owl", "paddle", "panda", "pansy", "parrot", "peach", "pearl", "pebble", "pencil",
    "pepper", "piano", "pillow", "pilot", "pirate", "planet", "plum", "pocket", "pony", "potato", "puzzle",
    "quill", "rabbit", "radio", "raven", "rhino", "ribbon", "river", "robot", "rocket", "saddle", "salmon",
    "sandal", "saucer", "shadow", "shell", "silver", "sketch", "sleigh", "sparrow", "spider", "spoon",
    "squirrel", "stamp", "statue", "sugar", "summer", "sunset", "swan", "table", "tango", "teapot", "tennis",
    "tent", "thunder", "tiger", "tomato", "tractor", "tulip", "tunnel", "turtle", "umbrella", "valley",
    "velvet", "violin", "volcano", "wagon", "walnut", "walrus", "whale", "wheat", "whistle", "willow",
    "window", "winter", "wizard", "wolf", "yogurt", "zebra"
};

} // namespace

namespace ShortCode {

QString words(const QByteArray &keyA, const QByteArray &keyB)
{
    if (keyA.isEmpty() || keyB.isEmpty())
        return {};
    // The same on both sides: the two keys in a fixed order, whichever side is which.
    const QByteArray &first = keyA < keyB ? keyA : keyB;
    const QByteArray &second = keyA < keyB ? keyB : keyA;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayLiteral("ZELMO short code 1"));
    hash.addData(first);
    hash.addData(second);
    const QByteArray digest = hash.result();
    QStringList picked;
    for (int i = 0; i < WordCount; ++i)
        picked << QString::fromLatin1(Words[static_cast<unsigned char>(digest[i])]);
    return picked.join(QLatin1Char(' '));
}

} // namespace ShortCode
