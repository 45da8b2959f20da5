#pragma once

#include <QPixmap>

// The program's pictures, drawn in code so that they scale cleanly and need no files.
namespace Artwork {

enum class Lamp { Green, Red, Amber, Grey };

QPixmap lamp(Lamp colour, int size = 14);
QPixmap connectLamp(bool on);
QPixmap microphone(bool on);
QPixmap camera(bool on, bool present = true);
QPixmap speaker(bool on);
QPixmap doNotDisturb(bool on);
QPixmap messageWaiting();
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

} // namespace Artwork
