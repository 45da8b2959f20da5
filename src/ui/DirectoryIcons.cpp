#include "ui/DirectoryIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace DirectoryIcons {

namespace {

constexpr int Size = 16;
const QColor Ink(40, 44, 52);

void drawPerson(QPainter &p, const QColor &colour)
{
    p.setPen(QPen(colour.darker(170), 1));
    p.setBrush(colour);
    p.drawEllipse(QRectF(4.5, 1.5, 7, 7));
    QPainterPath body;
    body.moveTo(2, 15.5);
    body.cubicTo(2, 9, 14, 9, 14, 15.5);
    body.closeSubpath();
    p.drawPath(body);
}

void drawCamera(QPainter &p)
{
    p.setPen(QPen(Ink, 1));
    p.setBrush(QColor(245, 245, 245));
    p.drawRoundedRect(QRectF(8.5, 9.5, 5, 4.5), 1, 1);
    p.setBrush(Ink);
    QPolygonF lens;
    lens << QPointF(13.5, 11.75) << QPointF(15.5, 10) << QPointF(15.5, 13.5);
    p.drawPolygon(lens);
}

void drawSound(QPainter &p)
{
    p.setPen(QPen(Ink, 1));
    p.setBrush(QColor(245, 245, 245));
    p.drawEllipse(QRectF(0.5, 9.5, 5, 5));
    p.setBrush(Ink);
    p.drawEllipse(QRectF(2, 11, 2, 2));
}

QPixmap draw(int number)
{
    QPixmap pm(Size, Size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (number == 9) {
        // A listed service: a blue diamond.
        p.setPen(QPen(QColor(18, 70, 130), 1));
        p.setBrush(QColor(32, 120, 200));
        QPolygonF diamond;
        diamond << QPointF(8, 1) << QPointF(15, 8) << QPointF(8, 15) << QPointF(1, 8);
        p.drawPolygon(diamond);
        return pm;
    }
    const bool available = number % 2 == 1;
    const int kind = (number - 1) / 2; // 0 both, 1 video, 2 sound, 3 neither
    drawPerson(p, available ? QColor(60, 180, 90) : QColor(150, 155, 160));
    if (kind == 0 || kind == 1)
        drawCamera(p);
    if (kind == 0 || kind == 2)
        drawSound(p);
    return pm;
}

} // namespace

QIcon icon(int number)
{
    if (number < 1 || number > Count)
        number = 7;
    return QIcon(draw(number));
}

} // namespace DirectoryIcons
