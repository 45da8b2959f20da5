#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

class QWidget;

// Where the program's windows go on the screen.
namespace WindowPlacement {

void centre(QWidget *window);
void topRight(QWidget *window);
// The available geometry of the screen the window is on (or the primary screen).
QRect screenArea(const QWidget *window);
int screenWidth(const QWidget *window);
int screenHeight(const QWidget *window);

// A second program on the same machine listens four ports further on; it opens its main
// window this much down and to the right of the default place, so the two never sit
// exactly on top of each other.
QPoint basePortOffset(int listenPortBase, int firstPort);

// The rectangle a window covers on the screen with its frame. A window never shown yet
// has no frame: the main window's frame is taken as the likely one.
QRect outerRect(const QWidget *window, const QWidget *mainWindow);

// Puts a window beside the main window: to its right, below any of the others already
// there, then to its left the same way, then below it; the first place that is on the
// screen and covers neither the main window nor any visible window of `others` wins.
// When none is free, the place that covers the least of the main window (then of the
// others) is taken.
void besideMain(QWidget *window, const QWidget *mainWindow, const QList<const QWidget *> &others);

} // namespace WindowPlacement
