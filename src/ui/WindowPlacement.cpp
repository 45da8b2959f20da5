#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace WindowPlacement {

namespace {

QRect screenArea(const QWidget *window)
{
    QScreen *screen = window && window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

} // namespace

void centre(QWidget *window)
{
    const QRect area = screenArea(window);
    const QSize size = window->frameGeometry().size();
    window->move(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
}

void topRight(QWidget *window)
{
    const QRect area = screenArea(window);
    window->move(area.right() + 1 - window->frameGeometry().width(), area.top());
}

int screenWidth(const QWidget *window)
{
    return screenArea(window).width();
}

int screenHeight(const QWidget *window)
{
    return screenArea(window).height();
}

} // namespace WindowPlacement
