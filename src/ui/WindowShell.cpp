#include "ui/WindowShell.h"

#include "call/CallControl.h"
#include "core/ActivityLog.h"
#include "core/Twips.h"
#include "desktop/DesktopSettings.h"
#include "directory/DirectoryService.h"
#include "media/AudioControl.h"
#include "media/CaptureControl.h"
#include "media/MediaSession.h"
#include "messages/MessageService.h"
#include "reach/ReachabilityService.h"
#include "core/Settings.h"
#include "root/ProgramEvents.h"
#include "root/ProgramOptions.h"
#include "secure/SecurityService.h"
#include "share/ScreenShare.h"
#include "ui/DesktopIntegration.h"
#include "ui/MainWindowController.h"
#include "ui/MessageWindows.h"
#include "ui/ScreenPickerDialog.h"
#include "ui/SecurityBadge.h"
#include "ui/SecurityIndicators.h"
#include "ui/VideoFormatDialog.h"
#include "ui/WindowPlacement.h"
#include "ui/frmAbout.h"
#include "ui/frmBusyNotify.h"
#include "ui/frmCallIn.h"
#include "ui/frmConStatus.h"
#include "ui/frmDirectory.h"
#include "ui/frmErrorMsg.h"
#include "ui/frmLog.h"
#include "ui/frmMain.h"
#include "ui/frmMessage.h"
#include "ui/frmNewChat.h"
#include "ui/frmOptions.h"
#include "ui/frmRates.h"
#include "ui/frmSelf.h"
#include "ui/frmSplash.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

WindowShell::WindowShell(ProgramFace face, QObject *parent)
    : QObject(parent)
    , m_face(std::move(face))
{
    connectProgram();
    connectCalls();
    connectMedia();
}

// The main window and what hangs on it: built once the program listens, so its menus and its
// first font load do not hold up the start; anything that needs it earlier builds it then.
frmMain *WindowShell::mainWindow()
{
    if (m_frmMain)
        return m_frmMain;
    m_frmMain = new frmMain;
    m_messageWindows = new MessageWindows({m_face.messages, m_face.messageMedia, m_face.calls,
                                           m_face.pals, m_face.settings,
                                           [this](IPPort &client) { m_face.prepareMessageClient(client); }},
                                          m_frmMain, this);
    m_securityIndicators = new SecurityIndicators(m_face.security.call(), *m_frmMain->securityBadge(), this);
    connect(m_frmMain, &frmMain::closeRequested, this, [this] { m_face.requestClose(); });
    connect(&m_face.reachability, &ReachabilityService::lineChanged, m_frmMain, &frmMain::setReachability);
    MediaSession &session = m_face.mediaSession;
    connect(&session, &MediaSession::inCallChanged, m_securityIndicators, &SecurityIndicators::setInCall);
    connect(&m_face.events, &ProgramEvents::callWayChanged, m_frmMain->securityBadge(), &SecurityBadge::setWay);
    connect(&session, &MediaSession::codecsChanged, m_frmMain->securityBadge(), &SecurityBadge::setCodecs);
    connectMessages();
    m_frmMain->setActivityFrame(0);
    return m_frmMain;
}

WindowShell::~WindowShell()
{
    m_face.shutdown();
    delete m_frmMain;
}

void WindowShell::connectProgram()
{
    connect(&m_face.events, &ProgramEvents::informationRequested, this, &WindowShell::showInformation);
    connect(&m_face.events, &ProgramEvents::errorRequested, this, &WindowShell::showError);
    connect(&m_face.events, &ProgramEvents::messageBoxRequested, this, &WindowShell::showMessageBox);
    // The user who quit waits for the reason a file was not written.
    connect(&m_face.events, &ProgramEvents::saveFailed, this,
            [this](const QString &text) { QMessageBox::warning(mainWindow(), QStringLiteral("ZELMO"), text); });
    connect(&m_face.events, &ProgramEvents::listenersReady, this, &WindowShell::mainWindow);
    connect(&m_face.events, &ProgramEvents::loaded, this, &WindowShell::buildWindows);
    connect(&m_face.events, &ProgramEvents::startupTailFinished, this, &WindowShell::finishStartup);
    connect(&m_face.events, &ProgramEvents::shuttingDown, this, [this] {
        if (m_desktop)
            m_desktop->shutdown();
        if (m_messageWindows)
            m_messageWindows->closeAll();
    });
    connect(&m_face.events, &ProgramEvents::savingSettings, this, &WindowShell::saveWindowPlaces);
    connect(&m_face.events, &ProgramEvents::finished, this, &WindowShell::closeWindows);
}

void WindowShell::connectCalls()
{
    CallControl &calls = m_face.calls;
    connect(&calls, &CallControl::progressWindowRequested, this, [this](const QString &name, const QString &location) {
        if (!m_frmConStatus)
            m_frmConStatus = new frmConStatus(m_face.calls, mainWindow());
        m_frmConStatus->setCallee(name, location);
        m_securityIndicators->follow(m_frmConStatus->securityNote());
        m_frmConStatus->show();
        m_frmConStatus->raise();
    });
    connect(&calls, &CallControl::callOffered, this, [this](const QString &name, const QString &location, bool autoAccepted) {
        if (!m_frmCallIn)
            m_frmCallIn = new frmCallIn(m_face.settings, m_face.calls, mainWindow());
        // The note first, so the prompt is placed at its final size.
        m_securityIndicators->follow(m_frmCallIn->securityNote());
        m_frmCallIn->offer(name, location, autoAccepted);
    });
    connect(&calls, &CallControl::busyNotice, this, [this](const QString &name, const QString &location) {
        if (!m_frmBusyNotify)
            return;
        m_frmBusyNotify->notify(name, location);
        // Both sit at the top right; the notice must not hide the prompt's buttons.
        if (m_frmCallIn && m_frmCallIn->isVisible())
            m_frmBusyNotify->move(m_frmBusyNotify->x(), m_frmCallIn->frameGeometry().bottom() + 1);
    });
}

void WindowShell::connectMedia()
{
    MediaSession &session = m_face.mediaSession;
    connect(&session, &MediaSession::captureRateChanged, this, [this](const QString &fps) {
        if (m_frmRates)
            m_frmRates->setFigure(frmRates::FpsCap, fps);
    });
    connect(&session, &MediaSession::streamRatesChanged, this,
            [this](const QString &fpsIn, const QString &fpsOut, const QString &thIn, const QString &thOut) {
                if (!m_frmRates)
                    return;
                m_frmRates->setFigure(frmRates::FpsIn, fpsIn);
                m_frmRates->setFigure(frmRates::FpsOut, fpsOut);
                m_frmRates->setFigure(frmRates::ThIn, thIn);
                m_frmRates->setFigure(frmRates::ThOut, thOut);
            });
    connect(&session, &MediaSession::sentPictureChanged, this, [this](int quality, int width, int height) {
        if (m_frmRates)
            m_frmRates->showSentPicture(quality, width, height);
    });
    connect(&session, &MediaSession::codecFiguresChanged, this,
            [this](const QString &codec, const QString &estimate, const QString &lost) {
                if (m_frmRates)
                    m_frmRates->showCodecFigures(codec, estimate, lost);
            });
    connect(&session, &MediaSession::directoryHideRequested, this, [this] {
        if (m_frmDirectory)
            m_frmDirectory->hide();
    });
    // The self view keeps beside the main window.
    connect(&session, &MediaSession::fiveSecondMark, this, [this] {
        if (m_frmSelf)
            m_frmSelf->followMainWindow(m_frmMain, m_face.settings.MoveAllWin);
    });
    connect(&m_face.capture, &CaptureControl::unusableFormat, this, [this](const QString &text) {
        m_openFormatDialogAfterMessage = true;
        showInformation(text);
    });
}

void WindowShell::connectMessages()
{
    connect(m_messageWindows, &MessageWindows::informationRequested, this, &WindowShell::showInformation);
    connect(&m_face.messages, &MessageService::waitingChanged, m_frmMain,
            [this](int waiting) { m_frmMain->setMessageWaiting(waiting > 0); });
    connect(&m_face.messages, &MessageService::messageArrived, m_frmMain,
            [this](quint64, const QuickMessage &m) { m_frmMain->announceMessage(m.senderName); });
    connect(m_frmMain, &frmMain::messageIndicatorActivated, m_messageWindows, &MessageWindows::openOldest);
    connect(&m_face.directory, &DirectoryService::sendMessageRequested, m_messageWindows,
            [this](const QString &name, const QString &location, const QString &address, int port) {
                m_messageWindows->compose(name, location, address, port);
            });
}

// ---- Start-up -----------------------------------------------------------------------

void WindowShell::start()
{
    m_face.start();
}

void WindowShell::buildWindows()
{
    const ProgramFace &p = m_face;
    const Settings &s = p.settings;
    mainWindow();
    m_frmDirectory = new frmDirectory(p.directory, p.pals, p.serverKeys, m_frmMain);
    m_frmSelf = new frmSelf(p.capture, p.videoEngine, p.screenShare, m_frmMain);
    m_frmNewChat = new frmNewChat(p.chat, m_frmMain);
    m_frmRates = new frmRates(m_frmMain);
    m_frmLog = new frmLog(p.activityLog, m_frmMain);
    m_frmBusyNotify = new frmBusyNotify(m_frmMain);

    // The desktop opens the chat window through the controller, made next.
    m_desktop = new DesktopIntegration({p.calls, p.messages, p.chat, p.mediaSession, p.audioControl,
                                        *m_frmMain, *m_frmNewChat, *m_messageWindows,
                                        [this] { return m_frmCallIn.data(); }, [this] { m_controller->toggleChat(); },
                                        p.profilePath(DesktopSettings::FileName),
                                        [this](const QString &text) { showMessageBox(text); }},
                                       this);
    m_controller = new MainWindowController(
        {p.settings, p.calls, p.mediaSession, p.videoEngine, p.capture, p.audioControl, p.audioEngine,
         p.directory, p.optionsLogic, *m_frmSelf, *m_frmNewChat, *m_frmRates, *m_frmLog, *m_frmDirectory,
         m_desktop, &p.audioSetup, &p.security, &p.reachability, &p.mediaFormats,
         [this] { m_face.requestClose(); }, [this] { openVideoFormatDialog(); },
         [this](const QString &text) { showInformation(text); }},
        *m_frmMain, this);

    m_controller->placeMainWindow();
    m_controller->zoom(frmMain::Zoom::Normal);
    // The splash only once the main window has its default place: showing a window it owns makes
    // the main window's own, and the window manager would then place it by its frame.
    if (p.options.callAddress.isEmpty()) {
        m_frmSplash = new frmSplash(m_frmMain);
        m_frmSplash->show();
    }
    if (s.SaveWinPos) {
        const QRect desk = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->virtualGeometry()
                                                            : QRect(0, 0, 1024, 768);
        const int left = std::clamp(Twips::toPixels(s.WinPosLeft), desk.left(), desk.right() - 40);
        const int top = std::clamp(Twips::toPixels(s.WinPosTop), desk.top(), desk.bottom() - 40);
        m_frmMain->move(left, top);
    }
    // A stored size never makes the window larger than the screen or vanish.
    m_frmDirectory->resize(std::clamp(Twips::toPixels(s.DirWidth), 100, WindowPlacement::screenWidth(m_frmMain)),
                           std::clamp(Twips::toPixels(s.DirHeight), 100, WindowPlacement::screenHeight(m_frmMain)));
    m_frmMain->setMessageIndicatorVisible(!s.Disable);
    // Without sound devices there is nothing to talk with.
    if (QWidget *talk = m_frmMain->findChild<QWidget *>(QStringLiteral("cmdtoolbar4")))
        talk->setEnabled(p.audioControl.hasAudio());
    m_controller->offsetForBasePort(p.listenPort(), p.options.firstPort);
    m_frmNewChat->placeBelow(m_frmMain);
    m_desktop->start();
    m_frmMain->showNormalButtonLooks();
    connectScreenShare();
}

void WindowShell::connectScreenShare()
{
    ScreenShare &share = m_face.screenShare;
    QAction *item = m_frmMain->action(QStringLiteral("Menu_ViewShare"));
    auto showState = [this, &share, item] {
        const bool sharing = share.state() == ScreenShare::State::Sharing;
        item->setText(sharing ? tr("Stop S&haring") : tr("Sha&re Screen..."));
        item->setEnabled(sharing || (share.canShare() && share.state() == ScreenShare::State::Idle));
    };
    connect(&share, &ScreenShare::stateChanged, this, showState);
    connect(&share, &ScreenShare::availabilityChanged, this, showState);
    showState();
    connect(item, &QAction::triggered, &share, [&share] {
        if (share.state() == ScreenShare::State::Sharing)
            share.stop();
        else
            share.request();
    });
    // What is shared shows in the self view, with the way to stop it.
    connect(&share, &ScreenShare::stateChanged, this, [this](ScreenShare::State state) {
        if (state == ScreenShare::State::Sharing && !m_frmSelf->isVisible())
            m_controller->toggleSelfView();
    });
    connect(&share, &ScreenShare::pickerWanted, this, [this, &share](const QList<ScreenTarget> &targets) {
        auto *picker = new ScreenPickerDialog(targets, m_frmMain);
        picker->setAttribute(Qt::WA_DeleteOnClose);
        picker->setWindowModality(Qt::WindowModal);
        connect(picker, &QDialog::accepted, &share, [&share, picker] { share.choose(picker->chosen()); });
        connect(picker, &QDialog::rejected, &share, &ScreenShare::cancelChoice);
        // A call that ends while the list is open takes the list with it.
        connect(&share, &ScreenShare::stateChanged, picker, [picker](ScreenShare::State state) {
            if (state != ScreenShare::State::Choosing)
                picker->close();
        });
        picker->open();
    });
}

void WindowShell::finishStartup()
{
    // A command-line start shows the main window at once; otherwise the splash goes, the
    // windows of the last run come back, and a user without details is asked for them.
    if (!m_face.options.callAddress.isEmpty()) {
        m_frmMain->show();
        return;
    }
    delete m_frmSplash;
    m_controller->restoreSatelliteWindows();
    m_frmMain->show();
    const Settings &s = m_face.settings;
    if (s.Name.isEmpty() || s.Location.isEmpty() || s.EMail.isEmpty()) {
        m_controller->showOptions(frmOptions::Personal);
        showInformation(tr("Please take a moment to fill in your user information and verify the "
                           "setup."));
    }
}

// ---- Shutdown -----------------------------------------------------------------------

void WindowShell::saveWindowPlaces()
{
    Settings &s = m_face.settings;
    if (!m_frmMain)
        return;
    if (s.SaveWinPos) {
        s.WinPosLeft = Twips::fromPixels(m_frmMain->x());
        s.WinPosTop = Twips::fromPixels(m_frmMain->y());
    }
    if (!m_frmDirectory)
        return;
    s.DirWidth = Twips::fromPixels(m_frmDirectory->width());
    s.DirHeight = Twips::fromPixels(m_frmDirectory->height());
    s.SelfViewOn = m_frmSelf->isVisible();
    s.ChatToolOn = m_frmNewChat->isVisible();
    s.DataRatesOn = m_frmRates->isVisible();
}

void WindowShell::closeWindows()
{
    if (m_frmLog) {
        m_frmLog->allowClose();
        m_frmSelf->allowClose();
        m_frmNewChat->allowClose();
        m_frmRates->allowClose();
    }
    if (!m_frmMain)
        return;
    m_frmMain->allowClose();
    if (m_controller)
        m_controller->closeWindows();
    for (QWidget *w : std::initializer_list<QWidget *>{m_frmSelf, m_frmNewChat, m_frmRates, m_frmLog, m_frmCallIn,
                                                       m_frmBusyNotify, m_frmSplash, m_frmConStatus, m_frmMessage,
                                                       m_frmErrorMsg, m_frmDirectory}) {
        if (w)
            w->close();
    }
    m_frmMain->close();
}

// ---- What the user is told -----------------------------------------------------------

void WindowShell::showInformation(const QString &text)
{
    if (!m_frmMessage) {
        m_frmMessage = new frmMessage(mainWindow());
        connect(m_frmMessage, &frmMessage::confirmed, this, [this] {
            if (m_openFormatDialogAfterMessage) {
                m_frmMessage->hide();
                openVideoFormatDialog();
                m_openFormatDialogAfterMessage = false;
            }
        });
    }
    m_frmMessage->showText(text);
}

void WindowShell::showError(const QString &text)
{
    if (!m_frmErrorMsg)
        m_frmErrorMsg = new frmErrorMsg(mainWindow());
    m_frmErrorMsg->showText(text);
}

QMessageBox *WindowShell::showMessageBox(const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("ZELMO"), text, QMessageBox::Ok, mainWindow());
    box->setObjectName(QStringLiteral("MessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    return box;
}

VideoFormatDialog *WindowShell::openVideoFormatDialog()
{
    auto *dialog = new VideoFormatDialog(&m_face.videoEngine, mainWindow());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setModal(false);
    dialog->show();
    dialog->raise();
    return dialog;
}

