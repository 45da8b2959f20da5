#include "media/AudioSettings.h"

#include "core/ProfileFile.h"

namespace {

const QString Section = QStringLiteral("Audio");
// Device names are short; a longer value is not one.
constexpr int DeviceNameBuffer = 512;

bool readBool(const ProfileFile &file, const QString &key, bool defaultValue)
{
    const QString text = file.readString(Section, key, QString(), 16);
    if (text.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0)
        return false;
    return defaultValue;
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace

void AudioSettings::load(const QString &path)
{
    ProfileFile file(path);
    file.reload();
    EchoCancellation = readBool(file, QStringLiteral("EchoCancellation"), true);
    NoiseSuppression = readBool(file, QStringLiteral("NoiseSuppression"), true);
    AutomaticLevel = readBool(file, QStringLiteral("AutomaticLevel"), true);
    Microphone = file.readString(Section, QStringLiteral("Microphone"), QString(), DeviceNameBuffer).toUtf8();
    Speaker = file.readString(Section, QStringLiteral("Speaker"), QString(), DeviceNameBuffer).toUtf8();
}

bool AudioSettings::save(const QString &path, QString *errorText) const
{
    ProfileFile file(path);
    file.reload();
    file.writeString(Section, QStringLiteral("EchoCancellation"), yesNo(EchoCancellation));
    file.writeString(Section, QStringLiteral("NoiseSuppression"), yesNo(NoiseSuppression));
    file.writeString(Section, QStringLiteral("AutomaticLevel"), yesNo(AutomaticLevel));
    file.writeString(Section, QStringLiteral("Microphone"), QString::fromUtf8(Microphone));
    file.writeString(Section, QStringLiteral("Speaker"), QString::fromUtf8(Speaker));
    return file.save(errorText);
}
