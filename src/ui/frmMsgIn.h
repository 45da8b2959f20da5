#pragma once

#include "core/PeerChannel.h"
#include "messages/QuickMessage.h"

#include <QWidget>

class MessageMedia;
class MessageService;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// "Incoming Message": one received quick message with its sender, text, thumbnail and
// sound clip, and what the user may do about it. The window holds the message; closing it
// discards the message for good (and refuses the sender when asked to).
class frmMsgIn : public QWidget
{
    Q_OBJECT

public:
    // Reply and Connect reach the sender on this port, whatever port it listens on: the
    // message does not say.
    static constexpr int SenderPort = PortPlan::PublishedBase;

    frmMsgIn(MessageService &service, MessageMedia &media, QuickMessage message, QWidget *parent = nullptr);

    const QuickMessage &message() const { return m_message; }

signals:
    void replyRequested(const QString &name, const QString &location, const QString &host, int port);
    void connectRequested(const QString &host, int port);
    void addPalRequested(const QString &email);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void cmdAddPal_Click();

    MessageService &m_service;
    MessageMedia &m_media;
    QuickMessage m_message;
    bool m_unloaded = false;

    QLabel *m_pnlUserName;
    QLabel *m_pnlLocation;
    QLabel *m_pnlEmail;
    QLabel *m_pnlTime;
    QPlainTextEdit *m_txtMessageIn;
    QLabel *m_imgThumb;
    QGroupBox *m_pnlPlayMsg;
    QPushButton *m_cmdPlay;
    QPushButton *m_cmdStop;
    QPushButton *m_cmdReply;
    QPushButton *m_cmdConnect;
    QPushButton *m_cmdAddPal;
    QPushButton *m_cmdClose;
    QCheckBox *m_chkRefuse;
};
