#include "ui/TextShortcutGuard.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

bool isTextBox(QObject *object)
{
    if (auto *combo = qobject_cast<QComboBox *>(object))
        return combo->isEditable();
    return qobject_cast<QLineEdit *>(object) || qobject_cast<QAbstractSpinBox *>(object)
           || qobject_cast<QPlainTextEdit *>(object) || qobject_cast<QTextEdit *>(object);
}

} // namespace

bool TextShortcutGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        // Accepting the override hands the key to the box as an ordinary key press.
        if (key->matches(QKeySequence::Copy) && isTextBox(watched))
            key->accept();
    }
    return QObject::eventFilter(watched, event);
}
