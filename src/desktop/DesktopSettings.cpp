#include "desktop/DesktopSettings.h"

#include "core/ProfileFile.h"
#include "desktop/HotKey.h"

namespace {

const QString Section = QStringLiteral("Desktop");

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

void DesktopSettings::load(const QString &path)
{
    ProfileFile file(path);
    file.reload();
    Notifications = readBool(file, QStringLiteral("Notifications"), true);
    TrayIcon = readBool(file, QStringLiteral("TrayIcon"), true);
    const QString key = file.readString(Section, QStringLiteral("TalkKey"), QString(), 64);
    TalkKey = HotKey::find(key) ? HotKey::find(key)->name : QString();
}

bool DesktopSettings::save(const QString &path, QString *errorText) const
{
    ProfileFile file(path);
    file.reload();
    file.writeString(Section, QStringLiteral("Notifications"), yesNo(Notifications));
    file.writeString(Section, QStringLiteral("TrayIcon"), yesNo(TrayIcon));
    file.writeString(Section, QStringLiteral("TalkKey"), TalkKey);
    return file.save(errorText);
}
