#pragma once

class QWidget;

// Where the program's windows go on the screen.
namespace WindowPlacement {

void centre(QWidget *window);
void topRight(QWidget *window);
// The available geometry of the screen the window is on (or the primary screen).
int screenWidth(const QWidget *window);
int screenHeight(const QWidget *window);

} // namespace WindowPlacement
