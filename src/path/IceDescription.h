#pragma once

#include "protocol/DirectoryProtocol.h"

#include <QByteArray>
#include <QList>

#include <optional>

// One side's half of finding a path for a call: its ICE user fragment and password and its
// candidates, each a line as the ICE agent writes a candidate attribute
// ("a=candidate:1 1 UDP 2013266431 192.168.1.10 45678 typ host"). Its text travels as one
// field of the directory server's ';'-separated texts, so it holds neither ';' nor the
// terminator:
//   v1|<ufrag>|<password>|<candidate>|<candidate>...
// The text comes from the other side through a server, so reading it is strict and
// bounded; a description that would not read back has no text at all.
class IceDescription
{
public:
    static constexpr int MaxLength = DirectoryProtocol::MaxPathDescription;
    static constexpr int MaxCandidates = 64;
    static constexpr int MaxCandidateLength = 256;
    // ICE's own bounds: a user fragment of at least 4 and a password of at least 22
    // characters, neither longer than 256.
    static constexpr int MinUfragLength = 4;
    static constexpr int MinPasswordLength = 22;
    static constexpr int MaxCredentialLength = 256;

    IceDescription() = default;
    IceDescription(QByteArray ufrag, QByteArray password, QList<QByteArray> candidates);

    const QByteArray &ufrag() const { return m_ufrag; }
    const QByteArray &password() const { return m_password; }
    const QList<QByteArray> &candidates() const { return m_candidates; }

    // Whether the description is within every bound above (and so has a text).
    bool isValid() const;
    // The text, or nothing for a description that is not valid.
    QByteArray toText() const;
    // The description a text holds, or nothing for anything but a whole, well-formed one.
    static std::optional<IceDescription> parse(const QByteArray &text);

    // Whether a line may stand as one candidate: "a=candidate:" and printable ASCII,
    // without the field, description and terminator separators.
    static bool isCandidateLine(const QByteArray &line);

    bool operator==(const IceDescription &other) const = default;

private:
    QByteArray m_ufrag;
    QByteArray m_password;
    QList<QByteArray> m_candidates;
};
