#include "ui/MessageWindows.h"

#include "call/CallControl.h"
#include "directory/DirectoryService.h"
#include "messages/MessageService.h"
#include "ui/frmMsgIn.h"
#include "ui/frmMsgOut.h"

#include <QWidget>

MessageWindows::MessageWindows(MessageService &messages, CallControl &calls, DirectoryService &directory,
                               QWidget *owner, QObject *parent)
    : QObject(parent)
    , m_messages(messages)
    , m_calls(calls)
    , m_directory(directory)
    , m_owner(owner)
{
}

frmMsgOut *MessageWindows::compose(const QString &name, const QString &location, const QString &host, int port)
{
    auto *window = new frmMsgOut(m_messages, m_owner);
    window->setRecipient(name, location, host, port);
    connect(window, &frmMsgOut::informationRequested, this, &MessageWindows::informationRequested);
    window->show();
    window->raise();
    window->load();
    return window;
}

frmMsgIn *MessageWindows::openOldest()
{
    return view(m_messages.takeOldest());
}

frmMsgIn *MessageWindows::open(quint64 id)
{
    return view(m_messages.take(id));
}

frmMsgIn *MessageWindows::view(std::optional<QuickMessage> message)
{
    if (!message)
        return nullptr;
    auto *window = new frmMsgIn(m_messages, std::move(*message), m_owner);
    connect(window, &frmMsgIn::replyRequested, this,
            [this](const QString &name, const QString &location, const QString &host, int port) {
                compose(name, location, host, port);
            });
    connect(window, &frmMsgIn::connectRequested, this,
            [this](const QString &host, int port) { m_calls.placeCall(host, port, 0); });
    connect(window, &frmMsgIn::addPalRequested, this,
            [this](const QString &email) { m_directory.addPalFromMessage(email); });
    window->show();
    window->raise();
    return window;
}

void MessageWindows::closeAll()
{
    for (frmMsgOut *w : m_owner->findChildren<frmMsgOut *>(Qt::FindDirectChildrenOnly))
        w->close();
    for (frmMsgIn *w : m_owner->findChildren<frmMsgIn *>(Qt::FindDirectChildrenOnly))
        w->close();
}
