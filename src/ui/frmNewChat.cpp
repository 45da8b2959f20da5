#include "ui/frmNewChat.h"

#include <QPlainTextEdit>
#include <QSplitter>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

frmNewChat::frmNewChat(QWidget *parent)
    : SatelliteWindow(parent)
{
    setObjectName(QStringLiteral("frmNewChat"));
    setWindowTitle(QStringLiteral("Text Chat"));
    resize(330, 330);

    auto *split = new QSplitter(Qt::Vertical, this);
    split->setObjectName(QStringLiteral("splitChat"));
    m_txtIn = new QPlainTextEdit(split);
    m_txtIn->setObjectName(QStringLiteral("txtIn"));
    m_txtIn->setReadOnly(true);
    m_txtOut = new QPlainTextEdit(split);
    m_txtOut->setObjectName(QStringLiteral("txtOut"));
    split->addWidget(m_txtIn);
    split->addWidget(m_txtOut);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(split);
}

void frmNewChat::appendToConversation(const QString &text)
{
    QTextCursor cursor = m_txtIn->textCursor();
    cursor.movePosition(QTextCursor::End);
    // The wire's CR LF line ends are one line break in the box.
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    cursor.insertText(lines);
    m_txtIn->setTextCursor(cursor);
}

void frmNewChat::insertReceivedLine(const QString &text)
{
    QTextDocument *document = m_txtIn->document();
    const int length = document->characterCount() - 1; // without the closing paragraph mark
    if (length > ConversationLimit) {
        QTextCursor cut(document);
        cut.setPosition(length - ConversationKeep, QTextCursor::KeepAnchor);
        cut.removeSelectedText();
    }
    appendToConversation(text + QStringLiteral("\r\n"));
}

void frmNewChat::endConnection()
{
    m_txtOut->clear();
    appendToConversation(QStringLiteral("\r\n<End of Connection>\r\n"));
}

QString frmNewChat::conversation() const
{
    return m_txtIn->toPlainText();
}
