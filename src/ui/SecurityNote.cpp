#include "ui/SecurityNote.h"

SecurityNote::SecurityNote(const QString &objectName, QWidget *parent)
    : QLabel(parent)
{
    setObjectName(objectName);
    setWordWrap(true);
    setMaximumWidth(320);
    hide();
}

void SecurityNote::showNote(const QString &text, bool warning)
{
    setText(text);
    m_warning = warning;
    setStyleSheet(warning ? QStringLiteral("color: #c01010; font-weight: bold;") : QString());
    setVisible(!text.isEmpty());
    if (QWidget *window = this->window())
        window->adjustSize();
}
