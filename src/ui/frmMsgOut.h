#pragma once

#include "messages/MessageComposer.h"

#include <QWidget>

class MessageService;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;

// "Send Message": a quick message's text, thumbnail and sound clip, and its sending. The
// window shows its composer's state and hands it the user's actions; it closes itself
// once the message is delivered, or when the user closes it.
class frmMsgOut : public QWidget
{
    Q_OBJECT

public:
    frmMsgOut(const MessageComposer::Context &context, QWidget *parent = nullptr);

    // Set by the opener before the window is shown.
    void setRecipient(const QString &name, const QString &location, const QString &host, int port);
    // The first picture: grabbed once the window is up.
    void load();

    MessageComposer &composer() { return *m_composer; }
    // The first status panel.
    QString statusText() const;

signals:
    void informationRequested(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void render();
    void setBusy(bool busy);

    MessageComposer *m_composer;
    QString m_status;
    int m_animateFrame = 0;

    QLabel *m_pnlUserName;
    QLabel *m_pnlLocation;
    QPlainTextEdit *m_txtMessageOut;
    QLabel *m_imgThumb;
    QPushButton *m_cmdRefresh;
    QCheckBox *m_chkImage;
    QCheckBox *m_chkAudio;
    QPushButton *m_cmdRecord;
    QPushButton *m_cmdStop;
    QPushButton *m_cmdPlay;
    QProgressBar *m_pgrAudioRec;
    QPushButton *m_cmdSend;
    QPushButton *m_cmdCancel;
    QStatusBar *m_barStatus;
    QLabel *m_pnlStatus;
    QLabel *m_pnlAnimate;
    QTimer *m_animate;
};
