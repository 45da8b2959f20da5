#pragma once

#include <QString>

// What start-up tells the user when a camera or sound device is missing: one plain
// sentence naming what is missing and what that means, and that calls still work.
namespace DeviceNotice {

// Empty when every device is there.
QString text(bool hasCamera, bool hasMicrophone, bool hasSpeaker);

// The sound system's own warnings about a missing sound server, which the notice
// replaces: they name its internals, not what the user lacks.
bool isSoundSystemWarning(const char *category, const QString &message);

} // namespace DeviceNotice
