#include "ui/frmNewChat.h"

#include "chat/ChatSession.h"
#include "core/Twips.h"
#include "ui/WindowPlacement.h"

#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTextCursor>
#include <QTextDocument>

namespace {

constexpr int WindowTwips = 4960;

QPushButton *addButton(QFrame *panel, const char *name, const QString &caption, const QString &label)
{
    auto *button = new QPushButton(label, panel);
    if (label != caption)
        button->setMaximumWidth(button->fontMetrics().height() * 3);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(caption);
    button->setAccessibleName(caption);
    // A click leaves the keyboard with the typing box.
    button->setFocusPolicy(Qt::TabFocus);
    panel->layout()->addWidget(button);
    return button;
}

void caretToEnd(QPlainTextEdit *box)
{
    box->moveCursor(QTextCursor::End);
    box->ensureCursorVisible();
}

} // namespace

frmNewChat::frmNewChat(ChatSession &chat, QWidget *parent)
    : SatelliteWindow(parent)
    , m_chat(chat)
{
    setObjectName(QStringLiteral("frmNewChat"));
    setWindowTitle(chat.caption());
    setMinimumSize(Twips::toPixels(2000), Twips::toPixels(1800));
    resize(Twips::toPixels(WindowTwips), Twips::toPixels(WindowTwips));

    m_split = new QSplitter(Qt::Vertical, this);
    m_split->setObjectName(QStringLiteral("splitChat"));
    m_txtIn = new QPlainTextEdit(m_split);
    m_txtIn->setObjectName(QStringLiteral("txtIn"));
    m_txtIn->setAccessibleName(tr("Pane A"));
    m_txtIn->setReadOnly(true);
    m_txtOut = new QPlainTextEdit(m_split);
    m_txtOut->setObjectName(QStringLiteral("txtOut"));
    m_txtOut->setAccessibleName(tr("Pane B"));
    for (QPlainTextEdit *box : {m_txtIn, m_txtOut}) {
        box->setUndoRedoEnabled(false);
        box->setTabChangesFocus(true);
        m_split->addWidget(box);
    }
    m_split->setStretchFactor(0, 3);
    m_split->setStretchFactor(1, 1);
    m_split->setChildrenCollapsible(false);
    // Nothing reaches the typing box but what the chat puts there.
    m_txtOut->setAcceptDrops(false);
    m_txtOut->setContextMenuPolicy(Qt::NoContextMenu);
    m_txtOut->installEventFilter(this);
    m_txtOut->viewport()->installEventFilter(this);

    m_panel = new QFrame(this);
    m_panel->setObjectName(QStringLiteral("pnlChat"));
    auto *row = new QHBoxLayout(m_panel);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    connect(addButton(m_panel, "cmdBell", tr("Ring User"), tr("Ring User")),
            &QPushButton::clicked, &chat, &ChatSession::ringUser);
    connect(addButton(m_panel, "cmdClear", tr("Clear Text"), tr("Clear Text")),
            &QPushButton::clicked, &chat, &ChatSession::clearText);
    row->addStretch(1);
    connect(addButton(m_panel, "cmdFontUp", tr("Increase Font Size"), QStringLiteral("A+")),
            &QPushButton::clicked, &chat, &ChatSession::increaseFontSize);
    connect(addButton(m_panel, "cmdFontDown", tr("Decrease Font Size"), QStringLiteral("A-")),
            &QPushButton::clicked, &chat, &ChatSession::decreaseFontSize);

    m_inSync.box = m_txtIn;
    m_inSync.text = &chat.conversation();
    m_outSync.box = m_txtOut;
    m_outSync.text = &chat.typing();
    connect(&chat, &ChatSession::conversationEdited, this,
            [this](int cut, int chop, const QString &added) { queueEdit(m_inSync, cut, chop, added); });
    connect(&chat, &ChatSession::typingEdited, this,
            [this](int cut, int chop, const QString &added) { queueEdit(m_outSync, cut, chop, added); });
    connect(&chat, &ChatSession::fontSizeChanged, this, &frmNewChat::applyFontSize);
    connect(&chat, &ChatSession::captionChanged, this, &QWidget::setWindowTitle);
    m_txtIn->setPlainText(chat.conversation().text());
    m_txtOut->setPlainText(chat.typing().text());
    applyFontSize(chat.fontSize());
    m_txtOut->setFocus();
}

QString frmNewChat::conversation()
{
    showPending();
    return m_txtIn->toPlainText();
}

void frmNewChat::showPending()
{
    catchUp(m_inSync);
    catchUp(m_outSync);
}

void frmNewChat::placeBelow(QWidget *mainWindow)
{
    if (m_placedBelow != mainWindow) {
        if (m_placedBelow)
            m_placedBelow->removeEventFilter(this);
        m_placedBelow = mainWindow;
        mainWindow->installEventFilter(this);
    }
    // A window manager adds its frame only once the window is shown.
    m_awaitingMainFrame = mainWindow->frameGeometry() == mainWindow->geometry();
    const QRect main = mainWindow->frameGeometry();
    resize(width(), Twips::toPixels(WindowTwips));
    int top = main.top() + main.height();
    const int screenBottom = WindowPlacement::screenHeight(mainWindow);
    if (top > screenBottom)
        top = screenBottom - 150;
    move(main.left(), top);
}

bool frmNewChat::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        emit activated();
    return SatelliteWindow::event(event);
}

void frmNewChat::resizeEvent(QResizeEvent *event)
{
    SatelliteWindow::resizeEvent(event);
    if (isMinimized())
        return;
    const int w = width();
    const int h = height();
    m_split->setGeometry(Twips::toPixels(45), Twips::toPixels(45), w - Twips::toPixels(105),
                         h - Twips::toPixels(750));
    m_panel->setGeometry(Twips::toPixels(60), h - Twips::toPixels(725), w - Twips::toPixels(135),
                         Twips::toPixels(680));
}

void frmNewChat::applyFontSize(int points)
{
    for (QPlainTextEdit *box : {m_txtIn, m_txtOut}) {
        QFont font = box->font();
        font.setPointSize(points);
        box->setFont(font);
    }
}

bool frmNewChat::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_txtOut) {
        if (event->type() == QEvent::KeyPress)
            return typingKey(static_cast<QKeyEvent *>(event));
        if (event->type() == QEvent::InputMethod) {
            auto *input = static_cast<QInputMethodEvent *>(event);
            if (input->commitString().isEmpty() && input->replacementLength() == 0)
                return false; // a composition in progress is only shown
            const QString committed = input->commitString();
            QInputMethodEvent rest(input->preeditString(), input->attributes());
            QApplication::sendEvent(m_txtOut, &rest);
            m_chat.type(committed);
            return true;
        }
        return false;
    }
    if (watched == m_placedBelow) {
        const QEvent::Type type = event->type();
        if (m_awaitingMainFrame && (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Show)
            && m_placedBelow->frameGeometry() != m_placedBelow->geometry())
            placeBelow(m_placedBelow);
        return false;
    }
    if (watched == m_txtOut->viewport()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            // A click only puts the caret back at the end, with nothing selected.
            m_txtOut->setFocus(Qt::MouseFocusReason);
            caretToEnd(m_txtOut);
            return true;
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
            return true;
        default:
            return false;
        }
    }
    return SatelliteWindow::eventFilter(watched, event);
}

bool frmNewChat::typingKey(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        m_chat.type(QStringLiteral("\r"));
        return true;
    case Qt::Key_Backspace:
        if (!(event->modifiers() & Qt::ControlModifier))
            m_chat.type(QStringLiteral("\b"));
        return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return false; // moves to the next control
    default:
        break;
    }
    if (event->matches(QKeySequence::Paste)) {
        m_chat.paste(QApplication::clipboard()->text());
        return true;
    }
    const Qt::KeyboardModifiers mods = event->modifiers();
    if ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier)) {
        if (event->key() == Qt::Key_G)
            m_chat.type(QString(QChar(7)));
        // Other editing shortcuts would change the box behind the chat's back.
        return true;
    }
    if ((mods & Qt::AltModifier) && !(mods & Qt::ControlModifier))
        return true; // Alt with a letter types nothing in a text box
    // Navigation keys, Delete and the like are dropped; the chat drops control characters.
    if (!event->text().isEmpty())
        m_chat.type(event->text());
    return true;
}

void frmNewChat::queueEdit(BoxSync &sync, int cut, int chop, const QString &added)
{
    if (sync.edits == 0) {
        sync.cut = cut;
        sync.chop = chop;
        sync.added = added;
    } else if (cut == 0 && chop == 0 && !sync.whole) {
        sync.added += added;
    } else {
        sync.whole = true;
        sync.added.clear();
    }
    ++sync.edits;
    if (sync.scheduled)
        return;
    sync.scheduled = true;
    QMetaObject::invokeMethod(
        this,
        [&sync] {
            sync.scheduled = false;
            catchUp(sync);
        },
        Qt::QueuedConnection);
}

void frmNewChat::catchUp(BoxSync &sync)
{
    if (sync.edits == 0)
        return;
    QPlainTextEdit *box = sync.box;
    QTextDocument *document = box->document();
    const int length = document->characterCount() - 1; // without the closing paragraph mark
    if (!sync.whole && sync.cut + sync.chop <= length) {
        QTextCursor cursor(document);
        if (sync.cut > 0) {
            cursor.setPosition(sync.cut, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        if (sync.chop > 0) {
            const int end = document->characterCount() - 1;
            cursor.setPosition(end - sync.chop);
            cursor.setPosition(end, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        if (!sync.added.isEmpty()) {
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(sync.added);
        }
    }
    // The box is a copy of the chat's text; should the two ever differ, the chat's wins.
    if (sync.whole || document->characterCount() - 1 != sync.text->length())
        box->setPlainText(sync.text->text());
    sync.edits = 0;
    sync.whole = false;
    sync.added.clear();
    caretToEnd(box);
}
