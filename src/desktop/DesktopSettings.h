#pragma once

#include <QString>

// The choices about the desktop around ZELMO: notifications, the tray icon and the talk
// key that works in every window. They live in a file of their own in the profile folder,
// so "zelmo.ini" keeps exactly the keys every other build reads and writes.
struct DesktopSettings
{
    static inline const QString FileName = QStringLiteral("desktop.ini");

    // Notifications while the main window is not the active window.
    bool Notifications = true;
    bool TrayIcon = true;
    // The talk key's name (see HotKey); empty for none.
    QString TalkKey;
    // The windows' colours: "System" (the desktop's light or dark), "Light" or "Dark".
    QString ColourScheme = QStringLiteral("System");

    // Missing file or key: the default. A talk key this build does not offer reads as none.
    void load(const QString &path);
    // Writes the keys atomically, keeping the file's other lines.
    bool save(const QString &path, QString *errorText = nullptr) const;
};
