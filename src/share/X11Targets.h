#pragma once

#include "share/ScreenTarget.h"

#include <QCoreApplication>
#include <QList>
#include <QString>

// The screens of an X display and the windows on them that a user would recognise: mapped
// top-level windows with a title (_NET_WM_NAME, else WM_NAME), as the window manager lists
// them (_NET_CLIENT_LIST) or, without one, as the root windows' children.
class X11Targets
{
    Q_DECLARE_TR_FUNCTIONS(X11Targets)

public:
    static constexpr int MaxWindows = 256;
    static constexpr int MaxTitleLength = 200;

    // Screens first, then windows; empty when the display cannot be opened.
    static QList<ScreenTarget> list(const QString &display);
};
