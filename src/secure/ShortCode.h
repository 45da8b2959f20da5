#pragma once

#include <QByteArray>
#include <QString>

// The short code two users read to each other during an encrypted call: four words made
// from both keys' fingerprints. Both sides compute the same words from the same two keys;
// a relay in between shows each side a key of its own, so the two sides see different
// words.
namespace ShortCode {

inline constexpr int WordCount = 4;

// Empty when either key is missing (a plain connection).
QString words(const QByteArray &keyA, const QByteArray &keyB);

} // namespace ShortCode
