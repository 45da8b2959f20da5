#include "ui/DesktopIntegration.h"

#include "call/CallControl.h"
#include "core/CallStates.h"
#include "chat/ChatSession.h"
#include "desktop/ColourSchemeWatcher.h"
#include "desktop/GlobalTalkKey.h"
#include "desktop/Notifier.h"
#include "media/AudioControl.h"
#include "media/MediaSession.h"
#include "messages/MessageService.h"
#include "ui/Artwork.h"
#include "ui/ColourPalette.h"
#include "ui/MessageWindows.h"
#include "ui/TrayController.h"
#include "ui/frmCallIn.h"
#include "ui/frmMain.h"
#include "ui/frmMsgIn.h"
#include "ui/frmNewChat.h"

#include <QAction>
#include <QDBusConnection>
#include <QEvent>

DesktopIntegration::DesktopIntegration(Context context, QObject *parent)
    : QObject(parent)
    , m_(std::move(context))
    , m_notifier(new Notifier(QDBusConnection::sessionBus(), this))
    , m_tray(new TrayController(m_.mainWindow.action(QStringLiteral("menu_DoNotDisturb")),
                                m_.mainWindow.action(QStringLiteral("Menu_FileHangup")),
                                m_.mainWindow.action(QStringLiteral("Menu_Quit")), this))
    , m_talkKey(new GlobalTalkKey(GlobalTalkKey::fromSystem(), this))
    , m_colourScheme(new ColourSchemeWatcher(QDBusConnection::sessionBus(), this))
{
    frmMain *main = &m_.mainWindow;
    m_notifier->setForegroundQuery([main] { return main->isActiveWindow(); });
    m_notifier->setPictures(Artwork::notificationPicture(Artwork::NotificationPicture::Call),
                            Artwork::notificationPicture(Artwork::NotificationPicture::Message),
                            Artwork::notificationPicture(Artwork::NotificationPicture::Bell));
    connect(m_tray, &TrayController::showRequested, this, &DesktopIntegration::showMainWindow);
    connectCalls();
    connectMessages();
    connectChat();
    connectTalkKey();
    connect(m_colourScheme, &ColourSchemeWatcher::darkChanged, this, [this](bool dark) {
        // Before the start the profile's choice is not known yet.
        if (m_started)
            applyColourScheme(dark);
    });
}

DesktopIntegration::~DesktopIntegration() = default;

void DesktopIntegration::connectCalls()
{
    // The program shows the prompt first (its connection came first), so it is there.
    connect(&m_.calls, &CallControl::callOffered, this,
            [this](const QString &name, const QString &location, bool autoAccepted) {
                if (frmCallIn *prompt = m_.promptOnScreen())
                    connect(prompt, &CallDialog::closed, m_notifier, &Notifier::callOver, Qt::UniqueConnection);
                m_notifier->callOffered(name, location, autoAccepted);
            });
    connect(m_notifier, &Notifier::answerRequested, this, [this] {
        if (frmCallIn *prompt = m_.promptOnScreen()) {
            prompt->answer();
            // The user asked for the call: its window comes up.
            showMainWindow();
        }
    });
    connect(m_notifier, &Notifier::declineRequested, this, [this] {
        if (frmCallIn *prompt = m_.promptOnScreen())
            prompt->decline();
    });
    connect(m_notifier, &Notifier::promptRequested, this, [this] {
        if (frmCallIn *prompt = m_.promptOnScreen(); prompt && prompt->isVisible()) {
            prompt->raise();
            prompt->activateWindow();
        }
    });
}

void DesktopIntegration::connectMessages()
{
    MessageService &messages = m_.messages;
    connect(&messages, &MessageService::messageArrived, m_notifier,
            [this](quint64 id, const QuickMessage &m) { m_notifier->messageArrived(id, m.senderName, m.text); });
    connect(&messages, &MessageService::messageTaken, m_notifier, &Notifier::messageOpened);
    connect(m_notifier, &Notifier::messageOpenRequested, this, [this](quint64 id) {
        if (frmMsgIn *viewer = m_.messageWindows.open(id))
            viewer->activateWindow();
    });
}

void DesktopIntegration::connectChat()
{
    connect(&m_.chat, &ChatSession::peerRang, m_notifier, [this] {
        const frmNewChat &chat = m_.chatWindow;
        if (!chat.isVisible() || chat.isMinimized())
            m_notifier->bellRang(m_.calls.status().PeerName);
    });
    connect(&m_.media, &MediaSession::inCallChanged, m_notifier, [this](bool inCall) {
        if (!inCall)
            m_notifier->bellOver();
    });
    connect(m_notifier, &Notifier::chatRequested, this, &DesktopIntegration::showChat);
}

void DesktopIntegration::connectTalkKey()
{
    // Held, the key talks as the Talk button held with the left mouse button does.
    AudioControl &audio = m_.audio;
    connect(m_talkKey, &GlobalTalkKey::pressed, &audio, [&audio] {
        if (audio.hasAudio())
            audio.talkPressed(Qt::LeftButton);
    });
    connect(m_talkKey, &GlobalTalkKey::released, &audio, [&audio] {
        if (audio.hasAudio())
            audio.talkReleased(Qt::LeftButton);
    });
}

void DesktopIntegration::start()
{
    if (m_started)
        return;
    m_started = true;
    m_settings.load(m_.settingsFile);
    m_notifier->setEnabled(m_settings.Notifications);
    m_tray->setIconWanted(m_settings.TrayIcon);
    m_talkKey->choose(m_settings.TalkKey);
    m_colourScheme->choose(m_settings.ColourScheme);
    applyColourScheme(m_colourScheme->isDark());
    m_.chatWindow.installEventFilter(this);
}

void DesktopIntegration::applyColourScheme(bool dark)
{
    // A light desktop keeps the colours the style gave it until the first dark.
    if (dark == m_darkApplied)
        return;
    m_darkApplied = dark;
    ColourPalette::apply(dark);
    // A hidden window hears of the new colours only when it shows again.
    m_.mainWindow.redrawArtwork();
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
    if (event->type() == QEvent::Show && watched == &m_.chatWindow)
        m_notifier->bellOver();
    return QObject::eventFilter(watched, event);
}

void DesktopIntegration::showMainWindow()
{
    frmMain *main = &m_.mainWindow;
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
    frmNewChat *chat = &m_.chatWindow;
    if (!m_.mainWindow.action(QStringLiteral("Menu_ViewChat"))->isChecked())
        m_.checkChatWindow();
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

void DesktopIntegration::chooseColourScheme(const QString &name)
{
    m_colourScheme->choose(name);
    m_settings.ColourScheme = m_colourScheme->choice();
    applyColourScheme(m_colourScheme->isDark());
    save();
}

void DesktopIntegration::save()
{
    QString error;
    if (!m_settings.save(m_.settingsFile, &error))
        m_.reportFailure(tr("Could not save the desktop choices: %1").arg(error));
}
