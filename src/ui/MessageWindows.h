#pragma once

#include "messages/QuickMessage.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class CallControl;
class PalService;
class IPPort;
class MessageMedia;
class MessageService;
struct Settings;
class QWidget;
class frmMsgIn;
class frmMsgOut;

// Opens the quick-message windows, one per message, and hands their actions on: a reply
// becomes a new compose window, Connect a call, Add Pal a pal.
class MessageWindows : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        MessageService &messages;
        MessageMedia &media;
        CallControl &calls;
        // A reply adds a pal; a message goes out with the user's number and details.
        PalService &pals;
        const Settings &settings;
        // Each message's client endpoint before it connects (the encrypted way first).
        std::function<void(IPPort &)> prepareClient = {};
    };

    MessageWindows(Context context, QWidget *owner, QObject *parent = nullptr);

    // A compose window for the recipient (port: the base port it listens on), shown.
    frmMsgOut *compose(const QString &name, const QString &location, const QString &host, int port);
    // The message that has waited longest in a viewer, shown; nullptr when none waits.
    frmMsgIn *openOldest();
    // The waiting message of that number in a viewer, shown; nullptr when it was read.
    frmMsgIn *open(quint64 id);
    // Program exit: every message window closes.
    void closeAll();

signals:
    void informationRequested(const QString &text);

private:
    frmMsgIn *view(std::optional<QuickMessage> message);

    Context m_;
    QWidget *m_owner;
};
