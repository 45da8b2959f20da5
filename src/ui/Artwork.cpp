#include "ui/Artwork.h"

#include <QGuiApplication>
#include <QPalette>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>
#include <functional>

namespace Artwork {

namespace {

const QColor Accent(32, 120, 200);
const QColor AccentDark(18, 70, 130);

// The colours that sit on the window's own background come from the palette, so the
// symbols stay legible in a dark colour scheme as in a light one.
QPalette palette()
{
    return qGuiApp ? QGuiApplication::palette() : QPalette();
}

QColor ink()
{
    return palette().color(QPalette::WindowText);
}

// Pictures are painted at the screen's pixel density, so they stay sharp on a display
// scaled to 200 %: the pixmap has twice the pixels and the painter works in logical units.
qreal density()
{
    return qGuiApp ? qMax<qreal>(1.0, qGuiApp->devicePixelRatio()) : 1.0;
}

QPixmap canvas(int w, int h, const QColor &fill = Qt::transparent)
{
    const qreal dpr = density();
    QPixmap pm(qCeil(w * dpr), qCeil(h * dpr));
    pm.setDevicePixelRatio(dpr);
    pm.fill(fill);
    return pm;
}

QColor lampColour(Lamp c)
{
    switch (c) {
    case Lamp::Green: return QColor(40, 200, 70);
    case Lamp::Red: return QColor(220, 50, 40);
    case Lamp::Amber: return QColor(240, 170, 30);
    case Lamp::Grey: break;
    }
    return QColor(130, 135, 140);
}

void drawLamp(QPainter &p, const QRectF &r, const QColor &base)
{
    QRadialGradient g(r.center() - QPointF(r.width() / 5, r.height() / 5), r.width() / 1.4);
    g.setColorAt(0, base.lighter(170));
    g.setColorAt(0.6, base);
    g.setColorAt(1, base.darker(160));
    p.setPen(QPen(base.darker(220), 1));
    p.setBrush(g);
    p.drawEllipse(r);
}

// A small symbol beside a lamp: the indicators read as "lamp + what it is about".
QPixmap indicator(const QColor &lampBase, const std::function<void(QPainter &, const QRectF &)> &symbol)
{
    QPixmap pm = canvas(30, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawLamp(p, QRectF(1.5, 2.5, 11, 11), lampBase);
    symbol(p, QRectF(15, 1, 14, 14));
    return pm;
}

// The eye of the logo: a lens-shaped iris in blue with a white eyeball and a pupil.
void drawEye(QPainter &p, const QRectF &eye)
{
    QLinearGradient g(eye.topLeft(), eye.bottomRight());
    g.setColorAt(0, QColor(80, 170, 240));
    g.setColorAt(1, AccentDark);
    QPainterPath lens;
    lens.moveTo(eye.left(), eye.center().y());
    lens.quadTo(eye.center().x(), eye.top() - eye.height() * 0.45, eye.right(), eye.center().y());
    lens.quadTo(eye.center().x(), eye.bottom() + eye.height() * 0.45, eye.left(), eye.center().y());
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(lens);
    p.setBrush(Qt::white);
    p.drawEllipse(eye.center(), eye.height() * 0.36, eye.height() * 0.36);
    p.setBrush(AccentDark);
    p.drawEllipse(eye.center(), eye.height() * 0.2, eye.height() * 0.2);
    p.restore();
}

void drawEnvelope(QPainter &p, bool lit);

} // namespace

QPixmap lamp(Lamp colour, int size)
{
    QPixmap pm = canvas(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawLamp(p, QRectF(1, 1, size - 2, size - 2), lampColour(colour));
    return pm;
}

QPixmap connectLamp(bool on)
{
    return indicator(lampColour(on ? Lamp::Green : Lamp::Grey), [](QPainter &p, const QRectF &r) {
        p.setPen(QPen(ink(), 1.6));
        p.drawLine(QPointF(r.left() + 1, r.center().y()), QPointF(r.right() - 1, r.center().y()));
        p.setBrush(ink());
        p.drawEllipse(QPointF(r.left() + 2, r.center().y()), 2, 2);
        p.drawEllipse(QPointF(r.right() - 2, r.center().y()), 2, 2);
    });
}

QPixmap microphone(bool on)
{
    return indicator(lampColour(on ? Lamp::Red : Lamp::Grey), [](QPainter &p, const QRectF &r) {
        p.setPen(QPen(ink(), 1.4));
        p.setBrush(ink());
        p.drawRoundedRect(QRectF(r.center().x() - 2.5, r.top() + 1, 5, 8), 2.5, 2.5);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(r.center().x() - 4.5, r.top() + 3, 9, 8), 180 * 16, 180 * 16);
        p.drawLine(QPointF(r.center().x(), r.top() + 11), QPointF(r.center().x(), r.bottom() - 1));
    });
}

QPixmap camera(bool on, bool present)
{
    const Lamp c = !present ? Lamp::Red : on ? Lamp::Green : Lamp::Amber;
    return indicator(lampColour(c), [present](QPainter &p, const QRectF &r) {
        p.setPen(QPen(ink(), 1.2));
        p.setBrush(ink());
        p.drawRoundedRect(QRectF(r.left(), r.top() + 4, 9, 7), 1.5, 1.5);
        QPolygonF lens{QPointF(r.left() + 9, r.top() + 7.5), QPointF(r.right(), r.top() + 4.5),
                       QPointF(r.right(), r.top() + 10.5)};
        p.drawPolygon(lens);
        if (!present) {
            p.setPen(QPen(QColor(220, 50, 40), 1.6));
            p.drawLine(r.topLeft() + QPointF(0, 1), r.bottomRight() - QPointF(0, 1));
        }
    });
}

QPixmap speaker(bool on)
{
    return indicator(lampColour(on ? Lamp::Green : Lamp::Grey), [on](QPainter &p, const QRectF &r) {
        p.setPen(QPen(ink(), 1.2));
        p.setBrush(ink());
        QPolygonF cone{QPointF(r.left(), r.top() + 5), QPointF(r.left() + 3, r.top() + 5),
                       QPointF(r.left() + 7, r.top() + 1.5), QPointF(r.left() + 7, r.bottom() - 1.5),
                       QPointF(r.left() + 3, r.bottom() - 5), QPointF(r.left(), r.bottom() - 5)};
        p.drawPolygon(cone);
        if (on) {
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(r.left() + 5, r.top() + 4, 6, 6), -50 * 16, 100 * 16);
            p.drawArc(QRectF(r.left() + 4, r.top() + 1.5, 10, 11), -50 * 16, 100 * 16);
        }
    });
}

QPixmap doNotDisturb(bool on)
{
    QPixmap pm = canvas(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor base = on ? QColor(210, 40, 40) : QColor(150, 155, 160);
    p.setPen(QPen(base.darker(150), 1));
    p.setBrush(base);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(3.5, 6.5, 9, 3), 1, 1);
    return pm;
}

QPixmap lock(bool closed, int size)
{
    QPixmap pm = canvas(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    const QColor body = closed ? QColor(40, 150, 70) : QColor(200, 120, 30);
    // The shackle: a closed one goes into the body on both sides; an open one is lifted
    // and swung aside.
    // A light shackle with a dark rim reads on the dark strip over the picture and on a
    // light window alike.
    p.setBrush(Qt::NoBrush);
    const QRectF shackle(4 * u, 1.5 * u, 8 * u, 10 * u);
    for (const auto &[colour, width] : {std::pair{QColor(60, 64, 68), 2.6}, std::pair{QColor(205, 210, 215), 1.4}}) {
        p.setPen(QPen(colour, width * u, Qt::SolidLine, Qt::RoundCap));
        if (closed) {
            p.drawArc(shackle, 0, 180 * 16);
            p.drawLine(QPointF(4 * u, 6.5 * u), QPointF(4 * u, 8 * u));
            p.drawLine(QPointF(12 * u, 6.5 * u), QPointF(12 * u, 8 * u));
        } else {
            p.drawArc(shackle.translated(3 * u, -1 * u), 0, 180 * 16);
            p.drawLine(QPointF(7 * u, 5.5 * u), QPointF(7 * u, 7 * u));
        }
    }
    p.setPen(QPen(body.darker(150), 1 * u));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(2.5 * u, 7.5 * u, 11 * u, 7.5 * u), 1.5 * u, 1.5 * u);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawEllipse(QPointF(8 * u, 10.5 * u), 1.3 * u, 1.3 * u);
    p.drawRect(QRectF(7.5 * u, 10.5 * u, 1 * u, 2.8 * u));
    return pm;
}

QPixmap messageIndicator(bool lit)
{
    QPixmap pm = canvas(20, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawEnvelope(p, lit);
    return pm;
}

namespace {

// An envelope in a 20 x 16 box: pale and outlined while nothing waits, yellow with a red
// flag when a quick message has come in.
void drawEnvelope(QPainter &p, bool lit)
{
    const QRectF body(1.5, 3.5, 15, 10.5);
    p.setPen(QPen(lit ? AccentDark : QColor(140, 146, 154), 1.2));
    p.setBrush(lit ? QColor(255, 222, 100) : QColor(236, 238, 241));
    p.drawRoundedRect(body, 1.2, 1.2);
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF{body.topLeft() + QPointF(0.5, 0.5), QPointF(body.center().x(), body.top() + 6),
                             body.topRight() + QPointF(-0.5, 0.5)});
    if (lit) {
        p.setPen(QPen(QColor(150, 20, 20), 1));
        p.setBrush(QColor(225, 45, 40));
        p.drawEllipse(QPointF(16, 4.5), 3.3, 3.3);
    }
}

} // namespace

QPixmap digit(int value)
{
    // Segments a..g of a seven-segment display.
    static constexpr unsigned char masks[10] = {0x3f, 0x06, 0x5b, 0x4f, 0x66, 0x6d, 0x7d, 0x07, 0x7f, 0x6f};
    QPixmap pm = canvas(11, 18, QColor(16, 20, 18));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const unsigned char mask = value >= 0 && value <= 9 ? masks[value] : 0;
    const QColor lit(90, 255, 120), unlit(36, 52, 40);
    const QRectF seg[7] = {
        {2.5, 1, 6, 2}, {8.5, 2.5, 2, 6}, {8.5, 9.5, 2, 6}, {2.5, 15, 6, 2},
        {0.5, 9.5, 2, 6}, {0.5, 2.5, 2, 6}, {2.5, 8, 6, 2}};
    p.setPen(Qt::NoPen);
    for (int s = 0; s < 7; ++s) {
        p.setBrush((mask >> s) & 1 ? lit : unlit);
        p.drawRoundedRect(seg[s], 0.8, 0.8);
    }
    return pm;
}

QPixmap colon(bool on)
{
    QPixmap pm = canvas(5, 18, QColor(16, 20, 18));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(on ? QColor(90, 255, 120) : QColor(36, 52, 40));
    p.drawEllipse(QRectF(1, 4.5, 3, 3));
    p.drawEllipse(QRectF(1, 10.5, 3, 3));
    return pm;
}

QPixmap activity(int frame)
{
    // Eight dots on a ring; the bright one walks round, trailing a fading tail.
    QPixmap pm = canvas(18, 18);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 8; ++i) {
        const int age = (frame - i + 8) % 8;
        QColor c = palette().color(QPalette::Highlight);
        c.setAlpha(age == 0 ? 255 : age < 3 ? 170 - age * 40 : 45);
        p.setBrush(c);
        const double a = i * M_PI / 4 - M_PI / 2;
        p.drawEllipse(QPointF(9 + 6.2 * std::cos(a), 9 + 6.2 * std::sin(a)), 1.8, 1.8);
    }
    return pm;
}

QPixmap toolbarButton(int index, ButtonLook look, bool inCall)
{
    const int size = 32;
    QPixmap pm = canvas(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF face(1.5, 1.5, size - 3, size - 3);
    // The face in the palette's button colours (light or dark scheme alike), the raised
    // one tinted towards the highlight.
    const QPalette pal = palette();
    const QColor button = pal.color(QPalette::Button);
    const QColor highlight = pal.color(QPalette::Highlight);
    const auto mix = [](const QColor &a, const QColor &b, qreal t) {
        return QColor::fromRgbF(a.redF() * (1 - t) + b.redF() * t, a.greenF() * (1 - t) + b.greenF() * t,
                                a.blueF() * (1 - t) + b.blueF() * t);
    };
    QLinearGradient g(face.topLeft(), face.bottomLeft());
    if (look == ButtonLook::Pressed) {
        g.setColorAt(0, mix(button, pal.color(QPalette::Dark), 0.45));
        g.setColorAt(1, mix(button, pal.color(QPalette::Dark), 0.25));
    } else if (look == ButtonLook::Raised) {
        g.setColorAt(0, mix(button, pal.color(QPalette::Light), 0.6));
        g.setColorAt(1, mix(button, highlight, 0.25));
    } else {
        g.setColorAt(0, mix(button, pal.color(QPalette::Light), 0.4));
        g.setColorAt(1, button);
    }
    p.setPen(QPen(look == ButtonLook::Raised ? highlight : pal.color(QPalette::Mid), 1));
    p.setBrush(g);
    p.drawRoundedRect(face, 6, 6);

    const QColor ink = look == ButtonLook::Raised ? mix(pal.color(QPalette::ButtonText), highlight, 0.5)
                                                  : pal.color(QPalette::ButtonText);
    p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const QPointF c = face.center();
    switch (index) {
    case 0: { // handset: green to call, red to hang up
        p.save();
        p.translate(c);
        p.rotate(inCall ? 135 : -45);
        QPainterPath handset;
        handset.addRoundedRect(QRectF(-10, -3, 20, 6), 3, 3);
        handset.addRoundedRect(QRectF(-11, -2, 6, 9), 2, 2);
        handset.addRoundedRect(QRectF(5, -2, 6, 9), 2, 2);
        p.setPen(Qt::NoPen);
        p.setBrush(inCall ? QColor(210, 50, 40) : QColor(30, 160, 70));
        p.drawPath(handset.simplified());
        p.restore();
        break;
    }
    case 1: // directory: a card index
        p.drawRoundedRect(QRectF(c.x() - 9, c.y() - 8, 18, 16), 2, 2);
        p.drawLine(QPointF(c.x() - 5, c.y() - 3), QPointF(c.x() + 5, c.y() - 3));
        p.drawLine(QPointF(c.x() - 5, c.y() + 1), QPointF(c.x() + 5, c.y() + 1));
        p.drawLine(QPointF(c.x() - 5, c.y() + 5), QPointF(c.x() + 2, c.y() + 5));
        break;
    case 2: // self view: a camera
        p.drawRoundedRect(QRectF(c.x() - 10, c.y() - 6, 14, 12), 2, 2);
        p.drawPolygon(QPolygonF{QPointF(c.x() + 4, c.y() - 1), QPointF(c.x() + 10, c.y() - 5),
                                QPointF(c.x() + 10, c.y() + 5), QPointF(c.x() + 4, c.y() + 1)});
        break;
    case 3: // chat: a speech bubble
        p.drawRoundedRect(QRectF(c.x() - 10, c.y() - 8, 20, 13), 4, 4);
        p.drawPolyline(QPolygonF{QPointF(c.x() - 4, c.y() + 5), QPointF(c.x() - 7, c.y() + 9),
                                 QPointF(c.x() + 1, c.y() + 5)});
        break;
    default: // push to talk: a microphone
        p.drawRoundedRect(QRectF(c.x() - 4, c.y() - 10, 8, 13), 4, 4);
        p.drawArc(QRectF(c.x() - 8, c.y() - 5, 16, 12), 180 * 16, 180 * 16);
        p.drawLine(QPointF(c.x(), c.y() + 7), QPointF(c.x(), c.y() + 10));
        p.drawLine(QPointF(c.x() - 4, c.y() + 10), QPointF(c.x() + 4, c.y() + 10));
        break;
    }
    return pm;
}

QPixmap camPause(int size)
{
    QPixmap pm = canvas(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(ink());
    const qreal bar = size * 0.22;
    const qreal top = size * 0.18;
    const qreal height = size * 0.64;
    p.drawRoundedRect(QRectF(size * 0.22, top, bar, height), 1, 1);
    p.drawRoundedRect(QRectF(size * 0.56, top, bar, height), 1, 1);
    return pm;
}

QPixmap camPlay(int size)
{
    QPixmap pm = canvas(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 110, 50), 1));
    p.setBrush(QColor(40, 170, 70));
    p.drawPolygon(QPolygonF{QPointF(size * 0.25, size * 0.16), QPointF(size * 0.82, size * 0.5),
                            QPointF(size * 0.25, size * 0.84)});
    return pm;
}

QPixmap logo(int width, int height)
{
    QPixmap pm = canvas(width, height);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawEye(p, QRectF(width * 0.1, height * 0.12, width * 0.8, height * 0.5));
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(qMax(8, int(height * 0.22)));
    f.setLetterSpacing(QFont::AbsoluteSpacing, height * 0.03);
    p.setFont(f);
    p.setPen(QColor(200, 215, 235));
    p.drawText(QRectF(0, height * 0.7, width, height * 0.3), Qt::AlignCenter, QStringLiteral("ZELMO"));
    return pm;
}

QPixmap splash(int width, int height)
{
    QPixmap pm = canvas(width, height);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, height);
    g.setColorAt(0, QColor(22, 36, 58));
    g.setColorAt(1, QColor(10, 16, 28));
    p.fillRect(pm.rect(), g);
    p.drawPixmap((width - 200) / 2, height / 8, logo(200, 150));
    return pm;
}

QPixmap information(int size)
{
    QPixmap pm = canvas(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Accent);
    p.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(size / 2.0, size * 0.28), size * 0.07, size * 0.07);
    p.drawRoundedRect(QRectF(size * 0.43, size * 0.42, size * 0.14, size * 0.38), 2, 2);
    return pm;
}

QPixmap errorSign(int size)
{
    QPixmap pm = canvas(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(205, 45, 40));
    p.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    p.setPen(QPen(Qt::white, size * 0.12, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(size * 0.32, size * 0.32), QPointF(size * 0.68, size * 0.68));
    p.drawLine(QPointF(size * 0.68, size * 0.32), QPointF(size * 0.32, size * 0.68));
    return pm;
}

QPixmap incomingCall(int size)
{
    QPixmap pm = canvas(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawPixmap(QRect(0, 0, size, size), toolbarButton(0, ButtonLook::Raised));
    p.setPen(QPen(QColor(30, 160, 70), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(size * 0.55, size * 0.05, size * 0.4, size * 0.4), 0, 90 * 16);
    return pm;
}

namespace {

// The logo's eye on a dark rounded square.
void drawAppIcon(QPainter &p, int size)
{
    QLinearGradient back(0, 0, 0, size);
    back.setColorAt(0, QColor(34, 54, 86));
    back.setColorAt(1, QColor(12, 20, 34));
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size * 0.2, size * 0.2);
    drawEye(p, QRectF(size * 0.08, size * 0.22, size * 0.84, size * 0.56));
}

// The do-not-disturb sign: a red disc with a white bar.
void drawNoEntry(QPainter &p, const QRectF &r)
{
    p.setPen(QPen(QColor(120, 20, 20), qMax(1.0, r.width() / 14)));
    p.setBrush(QColor(210, 40, 40));
    p.drawEllipse(r);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(r.left() + r.width() * 0.2, r.center().y() - r.height() * 0.1, r.width() * 0.6,
                             r.height() * 0.2),
                      r.height() * 0.06, r.height() * 0.06);
}

// A handset, green, lying across r.
void drawHandset(QPainter &p, const QRectF &r)
{
    p.save();
    p.translate(r.center());
    p.scale(r.width() / 24.0, r.height() / 24.0);
    p.rotate(-45);
    QPainterPath handset;
    handset.addRoundedRect(QRectF(-10, -3, 20, 6), 3, 3);
    handset.addRoundedRect(QRectF(-11, -2, 6, 9), 2, 2);
    handset.addRoundedRect(QRectF(5, -2, 6, 9), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 160, 70));
    p.drawPath(handset.simplified());
    p.restore();
}

// A bell with its clapper, in ink on r.
void drawBell(QPainter &p, const QRectF &r)
{
    const qreal w = r.width();
    const qreal h = r.height();
    QPainterPath bell;
    bell.moveTo(r.left() + w * 0.15, r.top() + h * 0.78);
    bell.cubicTo(r.left() + w * 0.28, r.top() + h * 0.62, r.left() + w * 0.22, r.top() + h * 0.18,
                 r.center().x(), r.top() + h * 0.16);
    bell.cubicTo(r.left() + w * 0.78, r.top() + h * 0.18, r.left() + w * 0.72, r.top() + h * 0.62,
                 r.left() + w * 0.85, r.top() + h * 0.78);
    bell.closeSubpath();
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, QColor(255, 222, 100));
    g.setColorAt(1, QColor(220, 160, 30));
    p.setPen(QPen(AccentDark, qMax(1.0, w / 24)));
    p.setBrush(g);
    p.drawPath(bell);
    p.drawEllipse(QPointF(r.center().x(), r.top() + h * 0.84), w * 0.08, w * 0.08);
    p.drawEllipse(QPointF(r.center().x(), r.top() + h * 0.12), w * 0.05, w * 0.05);
}

} // namespace

QIcon appIcon()
{
    // At the sizes window managers ask for.
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        drawAppIcon(p, size);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

QIcon trayIcon(TrayPicture picture)
{
    // The state sits in the lower right corner, large enough to read at 16 pixels.
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        drawAppIcon(p, size);
        const QRectF corner(size * 0.48, size * 0.48, size * 0.52, size * 0.52);
        if (picture == TrayPicture::InCall)
            drawLamp(p, corner.adjusted(0.5, 0.5, -0.5, -0.5), lampColour(Lamp::Green));
        else if (picture == TrayPicture::DoNotDisturb)
            drawNoEntry(p, corner.adjusted(0.5, 0.5, -0.5, -0.5));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

QImage notificationPicture(NotificationPicture picture, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    switch (picture) {
    case NotificationPicture::Call:
        drawAppIcon(p, size);
        drawHandset(p, QRectF(size * 0.4, size * 0.4, size * 0.6, size * 0.6));
        break;
    case NotificationPicture::Message:
        p.scale(size / 20.0, size / 20.0);
        p.translate(0.5, 2);
        drawEnvelope(p, true);
        break;
    case NotificationPicture::Bell:
        drawBell(p, QRectF(0, 0, size, size));
        break;
    }
    return image;
}

QPixmap listIcon(ListIcon kind)
{
    // A head and shoulders; pals carry a lamp that says whether they are on line.
    QPixmap pm = canvas(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor body = kind == ListIcon::PalOffline ? QColor(150, 156, 164) : Accent;
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawEllipse(QPointF(7, 5), 3.2, 3.2);
    QPainterPath shoulders;
    shoulders.moveTo(1.5, 15);
    shoulders.cubicTo(1.5, 9.5, 12.5, 9.5, 12.5, 15);
    shoulders.closeSubpath();
    p.drawPath(shoulders);
    if (kind != ListIcon::User)
        drawLamp(p, QRectF(10, 9.5, 5.5, 5.5), lampColour(kind == ListIcon::PalOnline ? Lamp::Green : Lamp::Grey));
    return pm;
}

} // namespace Artwork
