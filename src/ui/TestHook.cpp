#include "ui/TestHook.h"

#include "core/DescriptorLines.h"
#include "media/AudioEngine.h"
#include "media/sound/TestSpeaker.h"
#include "media/VideoEngine.h"
#include "messages/MessageService.h"
#include "ui/frmMain.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTreeWidget>

#include <cstdio>

namespace {

// A command line longer than this is not one; it is dropped rather than held.
constexpr int MaxCommandBytes = 64 * 1024;

void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &pos, Qt::MouseButton button)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(pos), QPointF(widget->mapToGlobal(pos)), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// The widget a pointer in the middle of `control` lands on, and the point in its terms.
QWidget *pointTarget(QWidget *control, QPoint *pos)
{
    const QPoint centre = control->rect().center();
    QWidget *child = control->childAt(centre);
    if (!child) {
        *pos = centre;
        return control;
    }
    *pos = child->mapFrom(control, centre);
    return child;
}

void typeKey(QWidget *widget, int key, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &release);
}

void typeText(QWidget *widget, const QString &text)
{
    for (const char32_t c : text.toUcs4()) {
        if (c == U'\n') {
            typeKey(widget, Qt::Key_Return, QStringLiteral("\r"));
        } else {
            // Printable ASCII characters have the key code of their upper-case form.
            const int key = c < 0x80 ? int(QChar::toUpper(c)) : int(Qt::Key_unknown);
            typeKey(widget, key, QString::fromUcs4(&c, 1));
        }
    }
}

QString rowText(const QTreeWidgetItem *item)
{
    QStringList columns;
    for (int i = 0; i < item->columnCount(); ++i)
        columns << item->text(i);
    return columns.join(QLatin1Char('\t'));
}

QString shownText(QWidget *w)
{
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *e = qobject_cast<QPlainTextEdit *>(w))
        return e->toPlainText();
    if (auto *e = qobject_cast<QTextEdit *>(w))
        return e->toPlainText();
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *c = qobject_cast<QComboBox *>(w))
        return c->currentText();
    if (auto *t = qobject_cast<QTreeWidget *>(w)) {
        QStringList rows;
        for (int i = 0; i < t->topLevelItemCount(); ++i)
            rows << rowText(t->topLevelItem(i));
        return rows.join(QLatin1Char('\n'));
    }
    if (auto *l = qobject_cast<QListWidget *>(w)) {
        QStringList rows;
        for (int i = 0; i < l->count(); ++i)
            rows << l->item(i)->text();
        return rows.join(QLatin1Char('\n'));
    }
    return w->accessibleName();
}

} // namespace

TestHook::TestHook(Context context, QObject *parent)
    : QObject(parent)
    , m_(context)
{
    connect(&m_.video, &VideoEngine::frameDrawn, this, [this] { ++m_framesDrawn; });
    // Each rise of the waiting count is one more message that came in whole.
    connect(&m_.messages, &MessageService::waitingChanged, this, [this](int waiting) {
        if (waiting > m_messagesWaiting)
            m_messagesReceived += waiting - m_messagesWaiting;
        m_messagesWaiting = waiting;
    });
}

void TestHook::listen(int fd)
{
    auto *lines = new DescriptorLines(fd, MaxCommandBytes, this);
    connect(lines, &DescriptorLines::lineRead, this, [this](const QByteArray &command, bool cut) {
        if (cut)
            return;
        const QByteArray answer = run(QString::fromUtf8(command)).toUtf8() + '\n';
        std::fwrite(answer.constData(), 1, size_t(answer.size()), stdout);
        std::fflush(stdout);
    });
}

QString TestHook::escaped(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    out.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    out.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return out;
}

QString TestHook::unescaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar next = text.at(++i);
        out += next == QLatin1Char('n') ? QChar(u'\n') : next == QLatin1Char('r') ? QChar(u'\r') : next;
    }
    return out;
}

QList<QWidget *> TestHook::windows() const
{
    // The main window and the windows it owns: another program in the same process (a
    // test's second program) keeps its own.
    QList<QWidget *> found;
    frmMain *main = &m_.mainWindow;
    found << main;
    for (QWidget *w : main->findChildren<QWidget *>()) {
        if (w->isWindow())
            found << w;
    }
    return found;
}

QWidget *TestHook::window(const QString &name, QString *error) const
{
    for (QWidget *w : windows()) {
        if (w->objectName() != name || !w->isVisible())
            continue;
        // A modal window takes every click and key until it closes.
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal != w && !modal->isAncestorOf(w)) {
            *error = QStringLiteral("%1 is blocked by %2").arg(name, modal->objectName());
            return nullptr;
        }
        return w;
    }
    *error = QStringLiteral("no visible window %1").arg(name);
    return nullptr;
}

QWidget *TestHook::control(const QString &windowName, const QString &controlName, bool forUse, QString *error) const
{
    QWidget *w = window(windowName, error);
    if (!w)
        return nullptr;
    QWidget *c = w->findChild<QWidget *>(controlName);
    if (!c) {
        *error = QStringLiteral("%1 has no control %2").arg(windowName, controlName);
        return nullptr;
    }
    if (!c->isVisible()) {
        *error = QStringLiteral("%1 is not shown").arg(controlName);
        return nullptr;
    }
    if (forUse && !c->isEnabled()) {
        *error = QStringLiteral("%1 is disabled").arg(controlName);
        return nullptr;
    }
    return c;
}

QString TestHook::counters() const
{
    QString speaker = QStringLiteral("speakerBlocks=unknown speakerSamples=unknown");
    AudioOutputDevice *output = m_.audio.outputDevice();
    if (!output)
        speaker = QStringLiteral("speakerBlocks=0 speakerSamples=0");
    else if (auto *test = qobject_cast<TestSpeaker *>(output))
        speaker = QStringLiteral("speakerBlocks=%1 speakerSamples=%2").arg(test->blocksWritten()).arg(test->samplesWritten());
    return QStringLiteral("ok framesDrawn=%1 %2 messagesReceived=%3 messagesWaiting=%4")
        .arg(m_framesDrawn)
        .arg(speaker)
        .arg(m_messagesReceived)
        .arg(m_.messages.waitingCount());
}

QString TestHook::run(const QString &command)
{
    const QString verb = command.section(QLatin1Char(' '), 0, 0);
    const QString first = command.section(QLatin1Char(' '), 1, 1);
    const QString second = command.section(QLatin1Char(' '), 2, 2);
    const QString rest = command.section(QLatin1Char(' '), 3);
    QString error;

    if (verb == QLatin1String("windows")) {
        QStringList names;
        for (QWidget *w : windows()) {
            if (w->isVisible() && !w->objectName().isEmpty())
                names << w->objectName();
        }
        names.sort();
        return QStringLiteral("ok ") + names.join(QLatin1Char(' '));
    }
    if (verb == QLatin1String("counters"))
        return counters();
    if (verb == QLatin1String("trigger")) {
        frmMain *main = &m_.mainWindow;
        if (!window(QStringLiteral("frmMain"), &error))
            return QStringLiteral("error ") + error;
        QAction *action = main->findChild<QAction *>(first);
        if (!action)
            return QStringLiteral("error no menu item %1").arg(first);
        if (!action->isEnabled() || !action->isVisible())
            return QStringLiteral("error %1 is disabled").arg(first);
        action->trigger();
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("grab")) {
        QWidget *w = second == QLatin1String("-") ? window(first, &error) : control(first, second, false, &error);
        if (!w)
            return QStringLiteral("error ") + error;
        if (!w->grab().save(rest, "PNG"))
            return QStringLiteral("error cannot write %1").arg(rest);
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("text") && second == QLatin1String("-")) {
        QWidget *w = window(first, &error);
        return w ? QStringLiteral("ok ") + escaped(w->windowTitle()) : QStringLiteral("error ") + error;
    }

    static const QStringList controlVerbs{QStringLiteral("text"), QStringLiteral("click"), QStringLiteral("press"),
                                          QStringLiteral("release"), QStringLiteral("type"), QStringLiteral("activate"),
                                          QStringLiteral("select"), QStringLiteral("doubleclick"),
                                          QStringLiteral("tip")};
    if (!controlVerbs.contains(verb))
        return QStringLiteral("error unknown command %1").arg(verb);
    // A disabled control can still be read, not used.
    const bool reading = verb == QLatin1String("text") || verb == QLatin1String("tip");
    QWidget *c = control(first, second, !reading, &error);
    if (!c)
        return QStringLiteral("error ") + error;

    if (verb == QLatin1String("text"))
        return QStringLiteral("ok ") + escaped(shownText(c));
    if (verb == QLatin1String("click") || verb == QLatin1String("press") || verb == QLatin1String("release")) {
        QPoint pos;
        QWidget *target = pointTarget(c, &pos);
        if (verb != QLatin1String("release"))
            sendMouse(target, QEvent::MouseButtonPress, pos, Qt::LeftButton);
        if (verb != QLatin1String("press"))
            sendMouse(target, QEvent::MouseButtonRelease, pos, Qt::LeftButton);
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("doubleclick")) {
        QPoint pos;
        QWidget *target = pointTarget(c, &pos);
        sendMouse(target, QEvent::MouseButtonPress, pos, Qt::LeftButton);
        sendMouse(target, QEvent::MouseButtonRelease, pos, Qt::LeftButton);
        sendMouse(target, QEvent::MouseButtonDblClick, pos, Qt::LeftButton);
        sendMouse(target, QEvent::MouseButtonRelease, pos, Qt::LeftButton);
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("type")) {
        c->window()->activateWindow();
        c->setFocus(Qt::OtherFocusReason);
        typeText(c, unescaped(rest));
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("activate") || verb == QLatin1String("select") || verb == QLatin1String("tip")) {
        auto *tree = qobject_cast<QTreeWidget *>(c);
        if (!tree)
            return QStringLiteral("error %1 is not a list").arg(second);
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QTreeWidgetItem *item = tree->topLevelItem(i);
            if (!rowText(item).contains(rest))
                continue;
            if (verb == QLatin1String("tip"))
                return QStringLiteral("ok ") + escaped(item->toolTip(0));
            tree->scrollToItem(item);
            const QPoint pos = tree->visualItemRect(item).center();
            QWidget *viewport = tree->viewport();
            sendMouse(viewport, QEvent::MouseButtonPress, pos, Qt::LeftButton);
            sendMouse(viewport, QEvent::MouseButtonRelease, pos, Qt::LeftButton);
            if (verb == QLatin1String("activate")) {
                sendMouse(viewport, QEvent::MouseButtonDblClick, pos, Qt::LeftButton);
                sendMouse(viewport, QEvent::MouseButtonRelease, pos, Qt::LeftButton);
            }
            return QStringLiteral("ok");
        }
        return QStringLiteral("error no row of %1 contains %2").arg(second, rest);
    }
    return QStringLiteral("error unknown command %1").arg(verb);
}
