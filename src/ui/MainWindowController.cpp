#include "ui/MainWindowController.h"

#include "call/CallControl.h"
#include "chat/ChatSession.h"
#include "core/CallStates.h"
#include "core/OptionsLogic.h"
#include "core/Settings.h"
#include "core/Twips.h"
#include "directory/DirectoryService.h"
#include "media/AudioControl.h"
#include "media/AudioEngine.h"
#include "media/CaptureControl.h"
#include "media/MediaSession.h"
#include "media/VideoEngine.h"
#include "ui/VideoView.h"
#include "ui/WindowPlacement.h"
#include "ui/frmAbout.h"
#include "ui/frmDirectory.h"
#include "ui/frmHelp.h"
#include "ui/frmLog.h"
#include "ui/frmNewChat.h"
#include "ui/frmRates.h"
#include "ui/frmSelf.h"

#include <QAction>

namespace {

// The self view's and the chat window's menu items and toolbar buttons.
const QString SelfItem = QStringLiteral("Menu_ViewSelf");
const QString ChatItem = QStringLiteral("Menu_ViewChat");
constexpr int SelfButton = 2;
constexpr int ChatButton = 3;

} // namespace

MainWindowController::ZoomSize MainWindowController::zoomSize(frmMain::Zoom zoom)
{
    switch (zoom) {
    case frmMain::Zoom::Small: return {160, 120, 2865, 3855};
    case frmMain::Zoom::Portrait: return {320, 240, 2865, 5670};
    case frmMain::Zoom::Normal: break;
    case frmMain::Zoom::VeryLarge: return {640, 480, 10530, 11340};
    }
    return {320, 240, 4960, 5500};
}

bool MainWindowController::lastFrameLengthForbidsSmallZoom(quint16 lastVideoPayload)
{
    return lastVideoPayload == 320;
}

MainWindowController::MainWindowController(Context context, frmMain &window, QObject *parent)
    : QObject(parent)
    , m_(std::move(context))
    , m_main(window)
{
    connect(&m_.options, &OptionsLogic::quickMessagesDisabledChanged, &m_main,
            [this](bool disabled) { m_main.setMessageIndicatorVisible(!disabled); });
    connectServices();
    connectWindows();
}

void MainWindowController::connectServices()
{
    frmMain *w = &m_main;
    MediaSession &session = m_.media;
    session.setWindowNormalQuery([w] { return w->isNormalState(); });
    connect(&session, &MediaSession::activityFrameChanged, w, &frmMain::setActivityFrame);
    connect(&session, &MediaSession::callClockChanged, w, &frmMain::setCallClock);
    connect(&session, &MediaSession::inCallChanged, w, &frmMain::setInCall);
    connect(&session, &MediaSession::displaySizeChanged, w, &frmMain::applyDisplaySize);
    connect(&m_.video, &VideoEngine::frameDrawn, w,
            [w](const QImage &frame) { w->videoView()->showFrame(frame); });
    connect(&m_.capture, &CaptureControl::cameraLampChanged, w,
            [w](int lamp) { w->setCameraLamp(frmMain::CameraLamp(lamp)); });

    AudioControl &audio = m_.audio;
    connect(&audio, &AudioControl::micChanged, w, &frmMain::setMicLamp);
    connect(&audio, &AudioControl::speakerChanged, w, &frmMain::setSpeakerLamp);
    connect(&m_.audioEngine, &AudioEngine::inputLevelChanged, w, &frmMain::setMicLevel);
    connect(&audio, &AudioControl::talkButtonHeld, w, [w](bool held) { w->setButtonPressed(4, held); });
    connect(w, &frmMain::talkPressed, &audio, &AudioControl::talkPressed);
    connect(w, &frmMain::talkReleased, &audio, &AudioControl::talkReleased);

    connect(w, &frmMain::hangupRequested, &m_.calls, &CallControl::hangUp);
    connect(w, &frmMain::toolbarClicked, this, &MainWindowController::onToolbarClicked);
    connect(w, &frmMain::doNotDisturbToggled, this, &MainWindowController::toggleDoNotDisturb);
    connect(w, &frmMain::zoomRequested, this, &MainWindowController::zoom);
    connect(w, &frmMain::minimised, this, &MainWindowController::onMinimised);
    connect(w, &frmMain::restored, this, &MainWindowController::onRestored);
    connectMenus();
}

void MainWindowController::connectMenus()
{
    frmMain *w = &m_main;
    connect(w->action(QStringLiteral("Menu_Quit")), &QAction::triggered, this, [this] { m_.quit(); });
    connect(w->action(QStringLiteral("Menu_FileCall")), &QAction::triggered, this, [this] { showDirectory(false); });
    connect(w->action(SelfItem), &QAction::triggered, this, &MainWindowController::toggleSelfView);
    connect(w->action(ChatItem), &QAction::triggered, this, &MainWindowController::toggleChat);
    connect(w->action(QStringLiteral("Menu_ViewLog")), &QAction::triggered, this,
            [this] { present(&m_.logWindow); });
    connect(w->action(QStringLiteral("Menu_ViewRates")), &QAction::triggered, this,
            [this] { present(&m_.ratesWindow); });
    connect(w->action(QStringLiteral("Menu_ViewOptions")), &QAction::triggered, this, [this] { showOptions(); });
    connect(w->action(QStringLiteral("Menu_HelpContents")), &QAction::triggered, this,
            [this] { helpWindow()->showContents(); });
    connect(w->action(QStringLiteral("Menu_HelpSearch")), &QAction::triggered, this,
            [this] { helpWindow()->showTopicFinder(); });
    connect(w->action(QStringLiteral("Menu_HelpAbout")), &QAction::triggered, this, [this] {
        aboutWindow()->show();
        aboutWindow()->raise();
    });
}

void MainWindowController::connectWindows()
{
    frmSelf *self = &m_.selfView;
    frmNewChat *chat = &m_.chatWindow;
    connect(self, &frmSelf::hiddenByUser, this, [this, self] { setSatelliteShown(self, SelfItem, SelfButton, false); });
    connect(chat, &frmNewChat::hiddenByUser, this, [this, chat] { setSatelliteShown(chat, ChatItem, ChatButton, false); });
    // A chat window brought up by the peer's typing is checked like one opened by the user.
    connect(chat, &frmNewChat::activated, this, [this] {
        m_main.action(ChatItem)->setChecked(true);
        m_main.setButtonPressed(ChatButton, true);
    });
    connect(self, &frmSelf::settingsRequested, this, [this] { showOptions(frmOptions::Video); });
}

void MainWindowController::placeMainWindow()
{
    const int width = Twips::toPixels(4960);
    const int height = Twips::toPixels(3855);
    m_main.resize(width, height);
    const QRect area = WindowPlacement::screenArea(&m_main);
    m_main.move(area.left() + (area.width() - width) / 2, area.top() + (area.height() - height) / 5);
}

void MainWindowController::offsetForBasePort(int listenPort, int firstPort)
{
    if (m_.settings.SaveWinPos)
        return;
    const QPoint offset = WindowPlacement::basePortOffset(listenPort, firstPort);
    m_main.move(m_main.pos() + offset);
}

void MainWindowController::restoreSatelliteWindows()
{
    const Settings &s = m_.settings;
    if (!s.RememberWin || s.SelfViewOn)
        setSatelliteShown(&m_.selfView, SelfItem, SelfButton, true);
    if (!s.RememberWin)
        return;
    if (s.ChatToolOn)
        setSatelliteShown(&m_.chatWindow, ChatItem, ChatButton, true);
    if (s.DataRatesOn)
        present(&m_.ratesWindow);
}

void MainWindowController::setSatelliteShown(QWidget *window, const QString &menuItem, int button, bool shown)
{
    m_main.action(menuItem)->setChecked(shown);
    m_main.setButtonPressed(button, shown);
    if (shown)
        present(window);
    else
        window->hide();
}

void MainWindowController::toggleSelfView()
{
    setSatelliteShown(&m_.selfView, SelfItem, SelfButton, !m_main.action(SelfItem)->isChecked());
}

void MainWindowController::toggleChat()
{
    setSatelliteShown(&m_.chatWindow, ChatItem, ChatButton, !m_main.action(ChatItem)->isChecked());
}

void MainWindowController::toggleDoNotDisturb()
{
    m_.calls.setDoNotDisturb(!m_.calls.doNotDisturb());
    m_main.setDoNotDisturb(m_.calls.doNotDisturb());
}

void MainWindowController::zoom(frmMain::Zoom zoom)
{
    if (zoom == frmMain::Zoom::Small
        && (!m_main.isNormalState() || lastFrameLengthForbidsSmallZoom(m_.calls.status().lastVideoPayload))) {
        return;
    }
    const ZoomSize size = zoomSize(zoom);
    m_.media.setDisplaySize(size.videoWidth, size.videoHeight);
    if (m_main.isNormalState())
        m_main.resizeTwips(size.windowWidthTwips, size.windowHeightTwips);
    // The self view keeps beside the window's new edge.
    m_.selfView.followMainWindow(&m_main, m_.settings.MoveAllWin);
}

void MainWindowController::showDirectory(bool fromToolbar)
{
    frmDirectory *directory = &m_.directoryWindow;
    // The toolbar asks for the list again even when it was fetched a moment ago.
    if (fromToolbar && directory->isVisible()) {
        directory->showFromToolbar();
        return;
    }
    if (fromToolbar)
        m_.directory.requestRefreshOnShow();
    present(directory);
}

void MainWindowController::onToolbarClicked(int index)
{
    const Settings &s = m_.settings;
    switch (index) {
    case 0:
        if (m_.calls.status().callState != CallState::Idle) {
            m_.calls.hangUp();
        } else if (s.Name.size() < 3) {
            m_.inform(tr("You must enter a name of at least 3 Characters in length.  "));
        } else if (s.EMail.size() < 8) {
            m_.inform(OptionsLogic::emailTooShortText());
        } else {
            showDirectory(true);
        }
        break;
    case 1:
        showDirectory(true);
        break;
    case SelfButton:
        toggleSelfView();
        break;
    case ChatButton:
        toggleChat();
        break;
    default:
        break; // push to talk works on press and release
    }
}

void MainWindowController::present(QWidget *window)
{
    if (!window)
        return;
    // The data-rates window is placed each time it opens; the others keep where the user
    // put them after their first opening.
    if (!m_placed.contains(window) || window == &m_.ratesWindow) {
        if (!window->isVisible())
            place(window);
        m_placed.insert(window);
    }
    window->show();
    window->raise();
}

void MainWindowController::place(QWidget *window)
{
    if (window == &m_.chatWindow) {
        m_.chatWindow.placeBelow(&m_main);
        return;
    }
    QList<const QWidget *> others{&m_.selfView, &m_.chatWindow, &m_.ratesWindow, &m_.logWindow, &m_.directoryWindow,
                                  m_frmOptions, m_frmHelp};
    WindowPlacement::besideMain(window, &m_main, others);
}

void MainWindowController::onMinimised()
{
    // The satellites go with the main window; the data-rates window and the about box close.
    m_.ratesWindow.hide();
    if (m_frmAbout)
        m_frmAbout->close();
    m_.selfView.hide();
    m_.chatWindow.hide();
}

void MainWindowController::onRestored()
{
    if (m_main.action(SelfItem)->isChecked())
        present(&m_.selfView);
    if (m_main.action(ChatItem)->isChecked())
        present(&m_.chatWindow);
}

frmOptions *MainWindowController::optionsWindow()
{
    if (!m_frmOptions) {
        m_frmOptions = new frmOptions(
            {m_.options, m_.capture, m_.audio, m_.video, m_.settings, m_.desktop, m_.audioSetup, m_.security, m_.reach,
             m_.formats}, &m_main);
        connect(m_frmOptions, &frmOptions::videoFormatRequested, this, [this] { m_.openVideoFormat(); });
        connect(m_frmOptions, &frmOptions::helpRequested, this,
                [this] { helpWindow()->showPage(QStringLiteral("options.html")); });
    }
    return m_frmOptions;
}

void MainWindowController::showOptions(std::optional<frmOptions::Tab> tab)
{
    frmOptions *options = optionsWindow();
    if (tab)
        options->showTab(*tab);
    present(options);
    options->activateWindow();
}

frmAbout *MainWindowController::aboutWindow()
{
    if (!m_frmAbout)
        m_frmAbout = new frmAbout(&m_main);
    return m_frmAbout;
}

frmHelp *MainWindowController::helpWindow()
{
    if (!m_frmHelp) {
        m_frmHelp = new frmHelp(&m_main);
        place(m_frmHelp);
    }
    return m_frmHelp;
}

void MainWindowController::closeWindows()
{
    for (QWidget *w : std::initializer_list<QWidget *>{m_frmOptions, m_frmAbout, m_frmHelp}) {
        if (w)
            w->close();
    }
}
