#include "core/Settings.h"

#include "core/Fields.h"
#include "core/ProfileFile.h"

#include <array>
#include <variant>

namespace {

// VSpeedLow has no member: it is written as "True" and never read.
struct WriteOnlyTrue
{
};

struct Key
{
    const char *section;
    const char *name;
    std::variant<QString Settings::*, bool Settings::*, qint16 Settings::*, qint32 Settings::*, WriteOnlyTrue> member;
    int bufferSize = 50;
    bool padded = false; // numbers written with one leading blank
};

// File order, which is also the order of reading and writing.
const std::array<Key, Settings::KeyCount> &keys()
{
    static const std::array<Key, Settings::KeyCount> table = {{
        {"Personal", "Name", &Settings::Name},
        {"Personal", "EMail", &Settings::EMail},
        {"Personal", "Location", &Settings::Location},
        {"Personal", "Comment", &Settings::Comment},
        {"Personal", "ShowOnList", &Settings::ShowOnList},
        {"Personal", "DirAddress", &Settings::DirAddress},
        {"Personal", "DirPort", &Settings::DirPort},
        {"Messaging", "Disable", &Settings::Disable},
        {"VideoCapture", "DriverNum", &Settings::DriverNum},
        {"VideoCapture", "SendImageMsg", &Settings::SendImageMsg},
        {"VideoCapture", "ImageMsg", &Settings::ImageMsg},
        {"Calling", "AutoAccept", &Settings::AutoAccept},
        {"Calling", "EnableRTC", &Settings::EnableRTC},
        {"Calling", "SendWelcome", &Settings::SendWelcome},
        {"Calling", "WelcomeMsg", &Settings::WelcomeMsg, 100},
        {"Calling", "AutoDecTime", &Settings::AutoDecTime},
        {"Windows", "SaveWinPos", &Settings::SaveWinPos},
        {"Windows", "DirWidth", &Settings::DirWidth, 50, true},
        {"Windows", "DirHeight", &Settings::DirHeight, 50, true},
        {"Windows", "WinPosLeft", &Settings::WinPosLeft},
        {"Windows", "WinPosTop", &Settings::WinPosTop},
        {"Windows", "MoveAllWin", &Settings::MoveAllWin},
        {"Windows", "RememberWin", &Settings::RememberWin},
        {"Windows", "SelfViewOn", &Settings::SelfViewOn},
        {"Windows", "ChatToolOn", &Settings::ChatToolOn},
        {"Windows", "DataRatesOn", &Settings::DataRatesOn},
        {"Windows", "VQualityLow", &Settings::VQualityLow},
        {"Windows", "VSpeedLow", WriteOnlyTrue{}},
        {"Windows", "ChatFontSize", &Settings::ChatFontSize},
    }};
    return table;
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

// Turns a member into the text it is stored as.
struct StoredText
{
    const Settings &settings;
    bool padded;
    QString operator()(QString Settings::*member) const { return settings.*member; }
    QString operator()(bool Settings::*member) const { return yesNo(settings.*member); }
    template<typename Number>
    QString operator()(Number Settings::*member) const
    {
        const QString digits = QString::number(settings.*member);
        return padded ? QLatin1Char(' ') + digits : digits;
    }
    QString operator()(WriteOnlyTrue) const { return yesNo(true); }
};

// The text a key is stored as.
QString textOf(const Settings &settings, const Key &key)
{
    return std::visit(StoredText{settings, key.padded}, key.member);
}

} // namespace

void Settings::load(const QString &path)
{
    ProfileFile file(path);
    file.reload();
    const Settings defaults;
    for (const Key &key : keys()) {
        if (std::holds_alternative<WriteOnlyTrue>(key.member))
            continue;
        const QString value = file.readString(QLatin1String(key.section), QLatin1String(key.name),
                                              textOf(defaults, key), key.bufferSize);
        if (auto text = std::get_if<QString Settings::*>(&key.member))
            this->**text = value;
        else if (auto flag = std::get_if<bool Settings::*>(&key.member))
            this->**flag = value.contains(QLatin1String("True"), Qt::CaseSensitive);
        else if (auto number = std::get_if<qint16 Settings::*>(&key.member))
            this->**number = Fields::leadingInt16(Fields::toWire(value));
        else if (auto geometry = std::get_if<qint32 Settings::*>(&key.member))
            this->**geometry = Fields::leadingInt32(Fields::toWire(value));
    }
}

bool Settings::save(const QString &path, QString *errorText) const
{
    ProfileFile file(path);
    file.reload();
    for (const Key &key : keys())
        file.writeString(QLatin1String(key.section), QLatin1String(key.name), textOf(*this, key));
    return file.save(errorText);
}
