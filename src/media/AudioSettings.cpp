#include "media/AudioSettings.h"

#include "core/ProfileFile.h"

namespace {

const QString Section = QStringLiteral("Audio");
// Device names are short; a longer value is not one.
constexpr int DeviceNameBuffer = 512;

} // namespace

void AudioSettings::load(const QString &path)
{
    ProfileFile file(path);
    file.reload();
    EchoCancellation = file.readBool(Section, QStringLiteral("EchoCancellation"), true);
    NoiseSuppression = file.readBool(Section, QStringLiteral("NoiseSuppression"), true);
    AutomaticLevel = file.readBool(Section, QStringLiteral("AutomaticLevel"), true);
    Microphone = file.readString(Section, QStringLiteral("Microphone"), QString(), DeviceNameBuffer).toUtf8();
    Speaker = file.readString(Section, QStringLiteral("Speaker"), QString(), DeviceNameBuffer).toUtf8();
}

bool AudioSettings::save(const QString &path, QString *errorText) const
{
    ProfileFile file(path);
    file.reload();
    file.writeBool(Section, QStringLiteral("EchoCancellation"), EchoCancellation);
    file.writeBool(Section, QStringLiteral("NoiseSuppression"), NoiseSuppression);
    file.writeBool(Section, QStringLiteral("AutomaticLevel"), AutomaticLevel);
    file.writeString(Section, QStringLiteral("Microphone"), QString::fromUtf8(Microphone));
    file.writeString(Section, QStringLiteral("Speaker"), QString::fromUtf8(Speaker));
    return file.save(errorText);
}
