#include "media/DeviceNotice.h"

#include <QStringList>

#include <cstring>

namespace DeviceNotice {

namespace {

QString joined(const QStringList &parts)
{
    if (parts.size() < 2)
        return parts.value(0);
    return QStringList(parts.mid(0, parts.size() - 1)).join(QStringLiteral(", ")) + QStringLiteral(" and ")
           + parts.last();
}

} // namespace

QString text(bool hasCamera, bool hasMicrophone, bool hasSpeaker)
{
    QStringList missing;
    QStringList effects;
    if (!hasCamera) {
        missing << QStringLiteral("camera");
        effects << QStringLiteral("the other side sees no picture of you");
    }
    if (!hasMicrophone) {
        missing << QStringLiteral("microphone");
        effects << QStringLiteral("you cannot talk");
    }
    if (!hasSpeaker) {
        missing << QStringLiteral("speaker");
        effects << QStringLiteral("you do not hear the other side");
    }
    if (missing.isEmpty())
        return {};
    for (QString &device : missing)
        device.prepend(QStringLiteral("no "));
    QString sentence = QStringLiteral("ZELMO found %1").arg(joined(missing));
    if (!hasMicrophone || !hasSpeaker)
        sentence += QStringLiteral(" (is the sound server running?)");
    sentence += QStringLiteral(": ") + joined(effects) + QStringLiteral(". Calls still work without ")
                + (missing.size() == 1 ? QStringLiteral("it.") : QStringLiteral("them."));
    return sentence;
}

bool isSoundSystemWarning(const char *category, const QString &message)
{
    if (category && std::strncmp(category, "qt.multimedia.pulseaudio", 24) == 0)
        return true;
    return message.startsWith(QLatin1String("PulseAudioService:"));
}

} // namespace DeviceNotice
