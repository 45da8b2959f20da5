#include "path/IceDescription.h"

#include <algorithm>

namespace {

constexpr char Version[] = "v1";
constexpr char Separator = '|';
constexpr char CandidatePrefix[] = "a=candidate:";

// ICE's credential characters: letters, digits, '+' and '/'.
bool isIceChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

bool isCredential(const QByteArray &value, int minLength)
{
    if (value.size() < minLength || value.size() > IceDescription::MaxCredentialLength)
        return false;
    return std::all_of(value.cbegin(), value.cend(), isIceChar);
}

} // namespace

IceDescription::IceDescription(QByteArray ufrag, QByteArray password, QList<QByteArray> candidates)
    : m_ufrag(std::move(ufrag))
    , m_password(std::move(password))
    , m_candidates(std::move(candidates))
{
}

bool IceDescription::isCandidateLine(const QByteArray &line)
{
    if (line.size() > MaxCandidateLength || !line.startsWith(CandidatePrefix))
        return false;
    for (char c : line) {
        if (c < 0x20 || c > 0x7e || c == ';' || c == Separator || c == '<' || c == '>')
            return false;
    }
    return true;
}

bool IceDescription::isValid() const
{
    if (!isCredential(m_ufrag, MinUfragLength) || !isCredential(m_password, MinPasswordLength))
        return false;
    if (m_candidates.size() > MaxCandidates)
        return false;
    qsizetype length = qsizetype(sizeof Version - 1) + 2 + m_ufrag.size() + m_password.size();
    for (const QByteArray &candidate : m_candidates) {
        if (!isCandidateLine(candidate))
            return false;
        length += 1 + candidate.size();
    }
    return length <= MaxLength;
}

QByteArray IceDescription::toText() const
{
    if (!isValid())
        return {};
    QByteArray text(Version);
    text += Separator + m_ufrag + Separator + m_password;
    for (const QByteArray &candidate : m_candidates)
        text += Separator + candidate;
    return text;
}

std::optional<IceDescription> IceDescription::parse(const QByteArray &text)
{
    // The bound comes first, so that nothing larger is ever split.
    if (text.size() > MaxLength)
        return std::nullopt;
    const QList<QByteArray> fields = text.split(Separator);
    if (fields.size() < 3 || fields.size() - 3 > MaxCandidates || fields.at(0) != Version)
        return std::nullopt;
    IceDescription description(fields.at(1), fields.at(2), fields.mid(3));
    if (!description.isValid())
        return std::nullopt;
    return description;
}
