#include "ui/frmSelf.h"

#include "media/CaptureControl.h"
#include "media/VideoEngine.h"
#include "share/ScreenShare.h"
#include "ui/Artwork.h"
#include "ui/VideoView.h"
#include "ui/WindowPlacement.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

frmSelf::frmSelf(CaptureControl &capture, VideoEngine &engine, ScreenShare &share, QWidget *parent)
    : SatelliteWindow(parent)
    , m_capture(capture)
    , m_engine(engine)
    , m_share(share)
{
    setObjectName(QStringLiteral("frmSelf"));
    setWindowTitle(tr("Self View"));

    m_picture = new VideoView(this);
    m_picture->setObjectName(QStringLiteral("pnlCapture"));
    m_picture->setFixedSize(320, 240);

    auto *strip = new QFrame(this);
    strip->setObjectName(QStringLiteral("pnlStatus"));
    auto *row = new QHBoxLayout(strip);
    row->setContentsMargins(3, 3, 3, 3);
    row->setSpacing(4);

    m_camSet = new QToolButton(strip);
    m_camSet->setObjectName(QStringLiteral("cmdCamSet"));
    m_camSet->setAutoRaise(false);
    m_camSet->setIconSize(QSize(16, 16));
    m_camSet->setToolTip(tr("Pause or resume the camera"));
    showCamSet(false);

    m_status = new QLabel(strip);
    m_status->setObjectName(QStringLiteral("pnlSelf"));
    m_status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setMinimumWidth(60);

    m_settings = new QPushButton(tr("Settings"), strip);
    m_settings->setObjectName(QStringLiteral("cmdSettings"));
    m_settings->setToolTip(tr("Video settings"));

    m_shareButton = new QPushButton(tr("Share Screen"), strip);
    m_shareButton->setObjectName(QStringLiteral("cmdShare"));
    m_shareButton->setToolTip(tr("Show your screen or a window to the other side instead of the camera"));
    m_shareButton->setAccessibleName(tr("Share Screen"));

    row->addWidget(m_camSet);
    row->addWidget(m_status, 1);
    row->addWidget(m_shareButton);
    row->addWidget(m_settings);

    // While sharing: what the other side sees is this, not the camera.
    m_sharingRow = new QFrame(this);
    m_sharingRow->setObjectName(QStringLiteral("pnlSharing"));
    auto *sharingLayout = new QHBoxLayout(m_sharingRow);
    sharingLayout->setContentsMargins(3, 3, 3, 3);
    m_sharingLine = new QLabel(tr("Sharing your screen"), m_sharingRow);
    m_sharingLine->setObjectName(QStringLiteral("lblSharing"));
    QFont bold = m_sharingLine->font();
    bold.setBold(true);
    m_sharingLine->setFont(bold);
    m_stopShare = new QPushButton(tr("Stop Sharing"), m_sharingRow);
    m_stopShare->setObjectName(QStringLiteral("cmdStopShare"));
    m_stopShare->setAccessibleName(tr("Stop Sharing"));
    m_stopShare->setToolTip(tr("Show the camera again"));
    sharingLayout->addWidget(m_sharingLine, 1);
    sharingLayout->addWidget(m_stopShare);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_sharingRow);
    layout->addWidget(m_picture, 0, Qt::AlignHCenter);
    layout->addWidget(strip);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_camSet, &QToolButton::clicked, this, &frmSelf::camSetClicked);
    m_camSet->installEventFilter(this);
    connect(m_settings, &QPushButton::clicked, this, &frmSelf::settingsRequested);
    connect(m_shareButton, &QPushButton::clicked, &m_share, &ScreenShare::request);
    connect(m_stopShare, &QPushButton::clicked, &m_share, &ScreenShare::stop);
    connect(&m_share, &ScreenShare::stateChanged, this, &frmSelf::showShareState);
    connect(&m_share, &ScreenShare::availabilityChanged, this, &frmSelf::showShareState);
    showShareState();
    connect(&m_engine, &VideoEngine::previewFrame, m_picture, &VideoView::showFrame);
    connect(&m_capture, &CaptureControl::selfViewSizeChanged, this, &frmSelf::applyPictureSize);
    // Capture paused or resumed from elsewhere (a format that cannot be used) shows here.
    connect(&m_capture, &CaptureControl::cameraLampChanged, this, [this](int lamp) {
        if (lamp == CaptureControl::LampOn)
            showCamSet(false);
        else if (lamp == CaptureControl::LampOff)
            showCamSet(true);
    });

}

void frmSelf::showCamSet(bool paused)
{
    m_paused = paused;
    m_camSet->setProperty("tag", paused ? QStringLiteral("Play") : QStringLiteral("Pause"));
    m_camSet->setProperty("picture", paused ? QStringLiteral("imgCamPlay") : QStringLiteral("imgCamPause"));
    m_camSet->setIcon(QIcon(paused ? Artwork::camPlay() : Artwork::camPause()));
    // A picture alone says nothing to a screen reader: the name says what a press does.
    m_camSet->setAccessibleName(paused ? tr("Resume the camera") : tr("Pause the camera"));
    m_camSet->setToolTip(m_camSet->accessibleName());
}

void frmSelf::showShareState()
{
    const bool sharing = m_share.state() == ScreenShare::State::Sharing;
    m_shareButton->setVisible(m_share.canShare() && !sharing);
    m_shareButton->setEnabled(m_share.state() == ScreenShare::State::Idle);
    m_sharingRow->setVisible(sharing);
    m_sharingLine->setToolTip(m_share.sharedName());
    m_sharingLine->setAccessibleName(sharing ? tr("Sharing your screen: %1").arg(m_share.sharedName()) : QString());
    adjustSize();
}

void frmSelf::camSetClicked()
{
    if (!m_paused) {
        showCamSet(true);
        m_capture.pauseCapture();
    } else {
        showCamSet(false);
        m_capture.resumeCapture();
    }
}

void frmSelf::applyPictureSize(QSize picture, const QString &caption)
{
    m_picture->setFixedSize(picture);
    m_status->setText(caption);
    adjustSize();
}

void frmSelf::followMainWindow(const QWidget *mainWindow, bool moveAllWin)
{
    if (!moveAllWin || !mainWindow || !isVisible())
        return;
    if (mainWindow->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    // A move or a change of size (zoom) both shift the place beside it.
    const QRect main = mainWindow->frameGeometry();
    if (m_lastMainPlace && *m_lastMainPlace == main)
        return;
    const int width = frameGeometry().width();
    const int right = main.left() + main.width();
    const int left = right + width <= WindowPlacement::screenWidth(mainWindow) ? right : main.left() - width;
    move(left, main.top());
    m_lastMainPlace = main;
}

bool frmSelf::eventFilter(QObject *watched, QEvent *event)
{
    // A new colour scheme: the button's picture is painted again in its colours.
    if (watched == m_camSet && event->type() == QEvent::PaletteChange)
        showCamSet(m_paused);
    return SatelliteWindow::eventFilter(watched, event);
}

bool frmSelf::event(QEvent *event)
{
    // An activation still on its way when the window was hidden shows nothing.
    if (event->type() == QEvent::WindowActivate && isVisible())
        m_engine.preview(true);
    return SatelliteWindow::event(event);
}

void frmSelf::showEvent(QShowEvent *event)
{
    m_engine.preview(true);
    SatelliteWindow::showEvent(event);
}

void frmSelf::hideEvent(QHideEvent *event)
{
    // Nobody sees the picture; the engine need not make it.
    m_engine.preview(false);
    SatelliteWindow::hideEvent(event);
}

void frmSelf::unloading()
{
    m_engine.preview(false);
}
