#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <limits>

namespace WindowPlacement {

namespace {

constexpr int Gap = 4;

} // namespace

QRect screenArea(const QWidget *window)
{
    QScreen *screen = window && window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

void centre(QWidget *window)
{
    const QRect area = screenArea(window);
    const QSize size = window->frameGeometry().size();
    window->move(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
}

void topRight(QWidget *window)
{
    const QRect area = screenArea(window);
    // A window not shown yet has no frame: its width with the likely one, so it ends at the edge.
    const QWidget *owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    window->move(area.right() + 1 - outerRect(window, owner).width(), area.top());
}

int screenWidth(const QWidget *window)
{
    return screenArea(window).width();
}

int screenHeight(const QWidget *window)
{
    return screenArea(window).height();
}

QPoint basePortOffset(int listenPortBase, int firstPort)
{
    // Eight steps of a cascade, then it starts again.
    const int step = ((listenPortBase - firstPort) / 4) % 8;
    return step > 0 ? QPoint(40 * step, 40 * step) : QPoint();
}

QRect outerRect(const QWidget *window, const QWidget *mainWindow)
{
    QRect outer = window->frameGeometry();
    if (outer.size() != window->size())
        return outer;
    // No frame known yet: the main window's, or a title bar's worth when it has none either.
    QSize frame(0, 28);
    if (mainWindow && mainWindow != window && mainWindow->frameGeometry().size() != mainWindow->size())
        frame = mainWindow->frameGeometry().size() - mainWindow->size();
    outer.setSize(outer.size() + frame);
    return outer;
}

void besideMain(QWidget *window, const QWidget *mainWindow, const QList<const QWidget *> &others)
{
    // A window never shown takes its natural size when it first shows; place it at that size.
    if (!window->isVisible() && !window->testAttribute(Qt::WA_Resized))
        window->adjustSize();
    const QRect area = screenArea(mainWindow);
    const QRect main = outerRect(mainWindow, nullptr);
    const QSize size = outerRect(window, mainWindow).size();
    QList<QRect> taken{main};
    for (const QWidget *w : others) {
        if (w && w != window && w->isVisible())
            taken.append(outerRect(w, mainWindow));
    }

    // Columns to the right and to the left of the main window; in each, the top of the
    // main window and the bottom of every window already in that column.
    QList<QPoint> candidates;
    for (const int left : {main.right() + 1, main.left() - size.width()}) {
        candidates.append(QPoint(left, main.top()));
        for (const QRect &r : std::as_const(taken)) {
            if (r != main && r.left() < left + size.width() && r.right() >= left)
                candidates.append(QPoint(left, r.bottom() + 1 + Gap));
        }
    }
    candidates.append(QPoint(main.left(), main.bottom() + 1));

    // No free place: the place on the screen that covers the least of the main window,
    // then of the others.
    auto covered = [&](const QRect &r) {
        qint64 onMain = 0, onOthers = 0;
        for (const QRect &t : std::as_const(taken)) {
            const QRect common = t.intersected(r);
            (t == main ? onMain : onOthers) += qint64(common.width()) * common.height();
        }
        return std::pair{onMain, onOthers};
    };
    QPoint best;
    std::pair<qint64, qint64> least{std::numeric_limits<qint64>::max(), 0};
    for (const QPoint &p : std::as_const(candidates)) {
        // Kept on the screen (its top left corner first, when it is larger than the screen).
        const QPoint onScreen(std::max(area.left(), std::min(p.x(), area.right() + 1 - size.width())),
                              std::max(area.top(), std::min(p.y(), area.bottom() + 1 - size.height())));
        const QRect r(onScreen, size);
        const auto cover = covered(r);
        if (cover == std::pair<qint64, qint64>{0, 0} && area.contains(r)) {
            window->move(onScreen);
            return;
        }
        if (cover < least) {
            least = cover;
            best = onScreen;
        }
    }
    window->move(best);
}

} // namespace WindowPlacement
