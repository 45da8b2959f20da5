#include "ui/ColourPalette.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace ColourPalette {

QPalette dark()
{
    const QColor window(45, 47, 50);
    const QColor base(30, 32, 34);
    const QColor text(232, 232, 232);
    const QColor disabled(128, 130, 134);
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, QColor(58, 61, 65));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabled);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(56, 59, 63));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(255, 110, 100));
    p.setColor(QPalette::Light, QColor(86, 90, 96));
    p.setColor(QPalette::Midlight, QColor(70, 73, 78));
    p.setColor(QPalette::Mid, QColor(40, 42, 45));
    p.setColor(QPalette::Dark, QColor(22, 23, 25));
    p.setColor(QPalette::Shadow, QColor(10, 10, 10));
    p.setColor(QPalette::Highlight, QColor(61, 142, 220));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(110, 170, 240));
    p.setColor(QPalette::LinkVisited, QColor(170, 140, 230));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(80, 84, 90));
    return p;
}

void apply(bool useDark)
{
    if (useDark) {
        // Fusion draws every control from the palette; other styles keep some light parts.
        if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
            QApplication::setStyle(fusion);
        QApplication::setPalette(dark());
    } else {
        QApplication::setPalette(QApplication::style()->standardPalette());
    }
}

} // namespace ColourPalette
