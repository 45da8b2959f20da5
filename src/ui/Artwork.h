#pragma once

#include <QIcon>
#include <QPixmap>

// The program's pictures, drawn in code so that they need no files and stay sharp at any
// screen scale: every pixmap is painted at the screen's pixel density.
namespace Artwork {

enum class Lamp { Green, Red, Amber, Grey };

QPixmap lamp(Lamp colour, int size = 14);
QPixmap connectLamp(bool on);
QPixmap microphone(bool on);
QPixmap camera(bool on, bool present = true);
QPixmap speaker(bool on);
QPixmap doNotDisturb(bool on);
// The quick-message indicator, lit while a message waits.
QPixmap messageIndicator(bool lit);
// A padlock: closed for an encrypted call, open for a plain one.
QPixmap lock(bool closed, int size = 16);
// Seven-segment digit 0..9 (lit) or an unlit digit (-1); the clock's colon.
QPixmap digit(int value);
QPixmap colon(bool on);
// Frame 0..7 of the activity animation.
QPixmap activity(int frame);

// Toolbar button pictures: button 0..4 ("Call", "Directory", "SelfView", "Chat", "Talk"),
// in their normal, raised (under the mouse) or pressed look; inCall gives button 0 its
// hang-up look.
enum class ButtonLook { Normal, Raised, Pressed };
QPixmap toolbarButton(int index, ButtonLook look, bool inCall = false);

// The self view's pause and play button pictures.
QPixmap camPause(int size = 16);
QPixmap camPlay(int size = 16);

QPixmap logo(int width = 120, int height = 90);
QPixmap splash(int width, int height);
QPixmap information(int size = 32);
QPixmap errorSign(int size = 32);
QPixmap incomingCall(int size = 48);

// The program's icon, for every window.
QIcon appIcon();

// The tray icon: the program's icon, with a green lamp during a call or the
// do-not-disturb sign while that is on.
enum class TrayPicture { Idle, InCall, DoNotDisturb };
QIcon trayIcon(TrayPicture picture);

// The pictures that go with the desktop's notifications: a call offered, a quick message
// arrived, the chat bell rung. Plain pixels (the notification service scales them).
enum class NotificationPicture { Call, Message, Bell };
QImage notificationPicture(NotificationPicture picture, int size = 64);

// Icons of the directory's lists: a listed user, a pal on line, a pal off line.
enum class ListIcon { User, PalOnline, PalOffline };
QPixmap listIcon(ListIcon kind);

} // namespace Artwork
