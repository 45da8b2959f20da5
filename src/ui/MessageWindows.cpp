#include "ui/MessageWindows.h"

#include "call/CallControl.h"
#include "directory/PalService.h"
#include "messages/MessageService.h"
#include "ui/frmMsgIn.h"
#include "ui/frmMsgOut.h"

#include <QWidget>

MessageWindows::MessageWindows(Context context, QWidget *owner, QObject *parent)
    : QObject(parent)
    , m_(context)
    , m_owner(owner)
{
}

frmMsgOut *MessageWindows::compose(const QString &name, const QString &location, const QString &host, int port)
{
    PalService &pals = m_.pals;
    auto *window = new frmMsgOut(
        {m_.media, m_.settings, [&pals] { return pals.userNumber(); }, m_.prepareClient}, m_owner);
    window->setRecipient(name, location, host, port);
    connect(window, &frmMsgOut::informationRequested, this, &MessageWindows::informationRequested);
    window->show();
    window->raise();
    window->load();
    return window;
}

frmMsgIn *MessageWindows::openOldest()
{
    return view(m_.messages.takeOldest());
}

frmMsgIn *MessageWindows::open(quint64 id)
{
    return view(m_.messages.take(id));
}

frmMsgIn *MessageWindows::view(std::optional<QuickMessage> message)
{
    if (!message)
        return nullptr;
    auto *window = new frmMsgIn(m_.messages, m_.media, std::move(*message), m_owner);
    connect(window, &frmMsgIn::replyRequested, this,
            [this](const QString &name, const QString &location, const QString &host, int port) {
                compose(name, location, host, port);
            });
    connect(window, &frmMsgIn::connectRequested, this,
            [this](const QString &host, int port) { m_.calls.placeCall(host, port, 0); });
    connect(window, &frmMsgIn::addPalRequested, this,
            [this](const QString &email) { m_.pals.addPalFromMessage(email); });
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
