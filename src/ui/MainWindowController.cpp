#include "ui/MainWindowController.h"

#include "call/CallControl.h"
#include "chat/ChatSession.h"
#include "core/IPDaemon.h"
#include "core/IPPort.h"
#include "core/OptionsLogic.h"
#include "core/Twips.h"
#include "directory/DirectoryService.h"
#include "media/AudioControl.h"
#include "media/engine/AudioEngine.h"
#include "media/CaptureControl.h"
#include "media/MediaSession.h"
#include "media/engine/VideoEngine.h"
#include "ui/Program.h"
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

MainWindowController::MainWindowController(Program &program, frmMain &window, QObject *parent)
    : QObject(parent)
    , m_program(program)
    , m_main(window)
    , m_optionsLogic(new OptionsLogic(program.settings(), program.state().refuseList,
                                      program.profilePath(QStringLiteral("refuse.dat")), this))
{
    m_optionsLogic->setChatConnectionQuery([&program] { return program.chat().isConnected(); });
    connect(m_optionsLogic, &OptionsLogic::directoryServerChanged, &program.directory(),
            &DirectoryService::closeDirectory);
    connect(m_optionsLogic, &OptionsLogic::loginChanged, &program.directory(), &DirectoryService::loginAgain);
    connect(m_optionsLogic, &OptionsLogic::informationRequested, &program, &Program::showInformation);
    connect(m_optionsLogic, &OptionsLogic::quickMessagesDisabledChanged, &m_main,
            [this](bool disabled) { m_main.setMessageIndicatorVisible(!disabled); });
    // The options dialog closed: a sound-test recording is dropped and no longer held.
    connect(m_optionsLogic, &OptionsLogic::soundTestEnded, this, [this] {
        m_program.audioSendQueue().reset();
        m_program.audioControl().testClosed();
    });
    connectServices();
}

void MainWindowController::connectServices()
{
    frmMain *w = &m_main;
    MediaSession &session = m_program.mediaSession();
    session.setWindowNormalQuery([w] { return w->isNormalState(); });
    connect(&session, &MediaSession::activityFrameChanged, w, &frmMain::setActivityFrame);
    connect(&session, &MediaSession::speakerLampChanged, w, &frmMain::setSpeakerLamp);
    connect(&session, &MediaSession::callClockChanged, w, &frmMain::setCallClock);
    connect(&session, &MediaSession::inCallChanged, w, &frmMain::setInCall);
    connect(&session, &MediaSession::displaySizeChanged, w, &frmMain::applyDisplaySize);
    connect(&m_program.videoEngine(), &VideoEngine::frameDrawn, w,
            [w](const QImage &frame) { w->videoView()->showFrame(frame); });
    connect(&m_program.capture(), &CaptureControl::cameraLampChanged, w,
            [w](int lamp) { w->setCameraLamp(frmMain::CameraLamp(lamp)); });

    AudioControl &audio = m_program.audioControl();
    connect(&audio, &AudioControl::micLampChanged, w, &frmMain::setMicLamp);
    connect(&m_program.audioEngine(), &AudioEngine::inputLevelChanged, w, &frmMain::setMicLevel);
    connect(&audio, &AudioControl::talkButtonHeld, w, [w](bool held) { w->setButtonPressed(4, held); });
    connect(w, &frmMain::talkPressed, &audio, &AudioControl::talkPressed);
    connect(w, &frmMain::talkReleased, &audio, &AudioControl::talkReleased);

    connect(w, &frmMain::hangupRequested, &m_program.calls(), &CallControl::hangUp);
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
    connect(w->action(QStringLiteral("Menu_Quit")), &QAction::triggered, &m_program, &Program::requestClose);
    connect(w->action(QStringLiteral("Menu_FileCall")), &QAction::triggered, this, [this] { showDirectory(false); });
    connect(w->action(SelfItem), &QAction::triggered, this, &MainWindowController::toggleSelfView);
    connect(w->action(ChatItem), &QAction::triggered, this, &MainWindowController::toggleChat);
    connect(w->action(QStringLiteral("Menu_ViewLog")), &QAction::triggered, this,
            [this] { present(m_program.logWindow()); });
    connect(w->action(QStringLiteral("Menu_ViewRates")), &QAction::triggered, this,
            [this] { present(m_program.ratesWindow()); });
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
    frmSelf *self = m_program.selfView();
    frmNewChat *chat = m_program.chatWindow();
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

void MainWindowController::offsetForBasePort()
{
    if (m_program.settings().SaveWinPos)
        return;
    const QPoint offset = WindowPlacement::basePortOffset(m_program.state().ListenPortBase, m_program.options().firstPort);
    m_main.move(m_main.pos() + offset);
}

void MainWindowController::restoreSatelliteWindows()
{
    const Settings &s = m_program.settings();
    if (!s.RememberWin || s.SelfViewOn)
        setSatelliteShown(m_program.selfView(), SelfItem, SelfButton, true);
    if (!s.RememberWin)
        return;
    if (s.ChatToolOn)
        setSatelliteShown(m_program.chatWindow(), ChatItem, ChatButton, true);
    if (s.DataRatesOn)
        present(m_program.ratesWindow());
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
    setSatelliteShown(m_program.selfView(), SelfItem, SelfButton, !m_main.action(SelfItem)->isChecked());
}

void MainWindowController::toggleChat()
{
    setSatelliteShown(m_program.chatWindow(), ChatItem, ChatButton, !m_main.action(ChatItem)->isChecked());
}

void MainWindowController::toggleDoNotDisturb()
{
    ProgramState &state = m_program.state();
    state.doNotDisturb = !state.doNotDisturb;
    m_main.setDoNotDisturb(state.doNotDisturb);
}

void MainWindowController::zoom(frmMain::Zoom zoom)
{
    if (zoom == frmMain::Zoom::Small
        && (!m_main.isNormalState() || lastFrameLengthForbidsSmallZoom(m_program.state().lastVideoPayload))) {
        return;
    }
    const ZoomSize size = zoomSize(zoom);
    m_program.mediaSession().setDisplaySize(size.videoWidth, size.videoHeight);
    if (m_main.isNormalState())
        m_main.resizeTwips(size.windowWidthTwips, size.windowHeightTwips);
    // The self view keeps beside the window's new edge.
    if (frmSelf *self = m_program.selfView())
        self->followMainWindow(&m_main, m_program.settings().MoveAllWin);
}

void MainWindowController::showDirectory(bool fromToolbar)
{
    frmDirectory *directory = m_program.directoryWindow();
    // The toolbar asks for the list again even when it was fetched a moment ago.
    if (fromToolbar && directory->isVisible()) {
        directory->showFromToolbar();
        return;
    }
    if (fromToolbar)
        m_program.directory().requestRefreshOnShow();
    present(directory);
}

void MainWindowController::onToolbarClicked(int index)
{
    const Settings &s = m_program.settings();
    switch (index) {
    case 0:
        if (m_program.state().callState != CallState::Idle) {
            m_program.calls().hangUp();
        } else if (s.Name.size() < 3) {
            m_program.showInformation(QStringLiteral("You must enter a name of at least 3 Characters in length.  "));
        } else if (s.EMail.size() < 8) {
            m_program.showInformation(OptionsLogic::emailTooShortText());
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
    if (!m_placed.contains(window) || window == m_program.ratesWindow()) {
        if (!window->isVisible())
            place(window);
        m_placed.insert(window);
    }
    window->show();
    window->raise();
}

void MainWindowController::place(QWidget *window)
{
    if (window == m_program.chatWindow()) {
        m_program.chatWindow()->placeBelow(&m_main);
        return;
    }
    QList<const QWidget *> others{m_program.selfView(), m_program.chatWindow(), m_program.ratesWindow(),
                                  m_program.logWindow(), m_program.directoryWindow(), m_frmOptions, m_frmHelp};
    WindowPlacement::besideMain(window, &m_main, others);
}

void MainWindowController::onMinimised()
{
    // The satellites go with the main window; the data-rates window and the about box close.
    if (frmRates *rates = m_program.ratesWindow())
        rates->hide();
    if (m_frmAbout)
        m_frmAbout->close();
    if (frmSelf *self = m_program.selfView())
        self->hide();
    if (frmNewChat *chat = m_program.chatWindow())
        chat->hide();
}

void MainWindowController::onRestored()
{
    if (m_main.action(SelfItem)->isChecked())
        present(m_program.selfView());
    if (m_main.action(ChatItem)->isChecked())
        present(m_program.chatWindow());
}

frmOptions *MainWindowController::optionsWindow()
{
    if (!m_frmOptions) {
        m_frmOptions = new frmOptions({*m_optionsLogic, m_program.capture(), m_program.audioControl(),
                                       m_program.videoEngine(), m_program.state(), &m_program.desktop(),
                                       &m_program.audioSetup(), &m_program.security()},
                                      &m_main);
        connect(m_frmOptions, &frmOptions::videoFormatRequested, &m_program, &Program::openVideoFormatDialog);
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
