#include "desktop/DesktopSettings.h"

#include "core/ProfileFile.h"
#include "desktop/ColourSchemeWatcher.h"
#include "desktop/HotKey.h"

namespace {

const QString Section = QStringLiteral("Desktop");

} // namespace

void DesktopSettings::load(const QString &path)
{
    ProfileFile file(path);
    file.reload();
    Notifications = file.readBool(Section, QStringLiteral("Notifications"), true);
    TrayIcon = file.readBool(Section, QStringLiteral("TrayIcon"), true);
    const QString key = file.readString(Section, QStringLiteral("TalkKey"), QString(), 64);
    TalkKey = HotKey::find(key) ? HotKey::find(key)->name : QString();
    ColourScheme = ColourSchemeWatcher::knownChoice(file.readString(Section, QStringLiteral("ColourScheme"),
                                                                    ColourSchemeWatcher::System, 16));
}

bool DesktopSettings::save(const QString &path, QString *errorText) const
{
    ProfileFile file(path);
    file.reload();
    file.writeBool(Section, QStringLiteral("Notifications"), Notifications);
    file.writeBool(Section, QStringLiteral("TrayIcon"), TrayIcon);
    file.writeString(Section, QStringLiteral("TalkKey"), TalkKey);
    file.writeString(Section, QStringLiteral("ColourScheme"), ColourScheme);
    return file.save(errorText);
}
