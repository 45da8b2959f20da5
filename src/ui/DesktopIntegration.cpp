#include "ui/DesktopIntegration.h"

#include "call/CallControl.h"
#include "chat/ChatSession.h"
#include "desktop/GlobalTalkKey.h"
#include "desktop/Notifier.h"
#include "media/AudioControl.h"
#include "media/MediaSession.h"
#include "messages/MessageService.h"
#include "ui/Artwork.h"
#include "ui/MainWindowController.h"
#include "ui/MessageWindows.h"
#include "ui/Program.h"
#include "ui/TrayController.h"
#include "ui/frmCallIn.h"
#include "ui/frmMain.h"
#include "ui/frmMsgIn.h"
#include "ui/frmNewChat.h"

#include <QAction>
#include <QDBusConnection>
#include <QEvent>

DesktopIntegration::DesktopIntegration(Program &program, QObject *parent)
    : QObject(parent)
    , m_program(program)
    , m_notifier(new Notifier(QDBusConnection::sessionBus(), this))
    , m_tray(new TrayController(program.mainWindow()->action(QStringLiteral("menu_DoNotDisturb")),
                                program.mainWindow()->action(QStringLiteral("Menu_FileHangup")),
                                program.mainWindow()->action(QStringLiteral("Menu_Quit")), this))
    , m_talkKey(new GlobalTalkKey(GlobalTalkKey::fromSystem(), this))
{
    frmMain *main = program.mainWindow();
    m_notifier->setForegroundQuery([main] { return main->isActiveWindow(); });
    m_notifier->setPictures(Artwork::notificationPicture(Artwork::NotificationPicture::Call),
                            Artwork::notificationPicture(Artwork::NotificationPicture::Message),
                            Artwork::notificationPicture(Artwork::NotificationPicture::Bell));
    connect(m_tray, &TrayController::showRequested, this, &DesktopIntegration::showMainWindow);
    connectCalls();
    connectMessages();
    connectChat();
    connectTalkKey();
}

DesktopIntegration::~DesktopIntegration() = default;

void DesktopIntegration::connectCalls()
{
    // The program shows the prompt first (its connection came first), so it is there.
    connect(&m_program.calls(), &CallControl::callOffered, this,
            [this](const QString &name, const QString &location, bool autoAccepted) {
                if (frmCallIn *prompt = m_program.callPrompt())
                    connect(prompt, &CallDialog::closed, m_notifier, &Notifier::callOver, Qt::UniqueConnection);
                m_notifier->callOffered(name, location, autoAccepted);
            });
    connect(m_notifier, &Notifier::answerRequested, this, [this] {
        if (frmCallIn *prompt = m_program.callPrompt()) {
            prompt->answer();
            // The user asked for the call: its window comes up.
            showMainWindow();
        }
    });
    connect(m_notifier, &Notifier::declineRequested, this, [this] {
        if (frmCallIn *prompt = m_program.callPrompt())
            prompt->decline();
    });
    connect(m_notifier, &Notifier::promptRequested, this, [this] {
        if (frmCallIn *prompt = m_program.callPrompt(); prompt && prompt->isVisible()) {
            prompt->raise();
            prompt->activateWindow();
        }
    });
}

void DesktopIntegration::connectMessages()
{
    MessageService &messages = m_program.messages();
    connect(&messages, &MessageService::messageArrived, m_notifier,
            [this](quint64 id, const QuickMessage &m) { m_notifier->messageArrived(id, m.senderName, m.text); });
    connect(&messages, &MessageService::messageTaken, m_notifier, &Notifier::messageOpened);
    connect(m_notifier, &Notifier::messageOpenRequested, this, [this](quint64 id) {
        if (frmMsgIn *viewer = m_program.messageWindows().open(id))
            viewer->activateWindow();
    });
}

void DesktopIntegration::connectChat()
{
    connect(&m_program.chat(), &ChatSession::peerRang, m_notifier, [this] {
        frmNewChat *chat = m_program.chatWindow();
        if (!chat || !chat->isVisible() || chat->isMinimized())
            m_notifier->bellRang(m_program.state().PeerName);
    });
    connect(&m_program.mediaSession(), &MediaSession::inCallChanged, m_notifier, [this](bool inCall) {
        if (!inCall)
            m_notifier->bellOver();
    });
    connect(m_notifier, &Notifier::chatRequested, this, &DesktopIntegration::showChat);
}

void DesktopIntegration::connectTalkKey()
{
    // Held, the key talks as the Talk button held with the left mouse button does.
    AudioControl &audio = m_program.audioControl();
    connect(m_talkKey, &GlobalTalkKey::pressed, &audio, [this, &audio] {
        if (m_program.state().hasAudio)
            audio.talkPressed(Qt::LeftButton);
    });
    connect(m_talkKey, &GlobalTalkKey::released, &audio, [this, &audio] {
        if (m_program.state().hasAudio)
            audio.talkReleased(Qt::LeftButton);
    });
}

void DesktopIntegration::start()
{
    if (m_started)
        return;
    m_started = true;
    m_settings.load(m_program.profilePath(DesktopSettings::FileName));
    m_notifier->setEnabled(m_settings.Notifications);
    m_tray->setIconWanted(m_settings.TrayIcon);
    m_talkKey->choose(m_settings.TalkKey);
    if (frmNewChat *chat = m_program.chatWindow())
        chat->installEventFilter(this);
}

void DesktopIntegration::shutdown()
{
    m_notifier->withdrawAll();
    m_tray->setIconWanted(false);
    m_talkKey->choose(QString());
}

bool DesktopIntegration::eventFilter(QObject *watched, QEvent *event)
{
    // The chat window on the screen answers the bell.
    if (event->type() == QEvent::Show && watched == m_program.chatWindow())
        m_notifier->bellOver();
    return QObject::eventFilter(watched, event);
}

void DesktopIntegration::showMainWindow()
{
    frmMain *main = m_program.mainWindow();
    if (main->isMinimized())
        main->showNormal();
    else
        main->show();
    main->raise();
    main->activateWindow();
}

void DesktopIntegration::showChat()
{
    showMainWindow();
    frmNewChat *chat = m_program.chatWindow();
    if (!chat)
        return;
    if (!m_program.mainWindow()->action(QStringLiteral("Menu_ViewChat"))->isChecked())
        m_program.toggleChat();
    chat->show();
    chat->raise();
    chat->activateWindow();
}

void DesktopIntegration::setNotificationsOn(bool on)
{
    m_settings.Notifications = on;
    m_notifier->setEnabled(on);
    save();
}

void DesktopIntegration::setTrayIconOn(bool on)
{
    m_settings.TrayIcon = on;
    m_tray->setIconWanted(on);
    save();
}

void DesktopIntegration::chooseTalkKey(const QString &name)
{
    m_talkKey->choose(name);
    m_settings.TalkKey = m_talkKey->chosen();
    save();
}

void DesktopIntegration::save()
{
    QString error;
    if (!m_settings.save(m_program.profilePath(DesktopSettings::FileName), &error))
        m_program.showMessageBox(tr("Could not save the desktop choices: %1").arg(error));
}
