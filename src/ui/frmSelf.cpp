#include "ui/frmSelf.h"

#include "media/CaptureControl.h"
#include "media/engine/VideoEngine.h"
#include "ui/Artwork.h"
#include "ui/VideoView.h"
#include "ui/WindowPlacement.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

frmSelf::frmSelf(CaptureControl &capture, VideoEngine &engine, QWidget *parent)
    : SatelliteWindow(parent)
    , m_capture(capture)
    , m_engine(engine)
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

    row->addWidget(m_camSet);
    row->addWidget(m_status, 1);
    row->addWidget(m_settings);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_picture, 0, Qt::AlignHCenter);
    layout->addWidget(strip);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_camSet, &QToolButton::clicked, this, &frmSelf::camSetClicked);
    connect(m_settings, &QPushButton::clicked, this, &frmSelf::settingsRequested);
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
    m_camSet->setProperty("tag", paused ? QStringLiteral("Play") : QStringLiteral("Pause"));
    m_camSet->setProperty("picture", paused ? QStringLiteral("imgCamPlay") : QStringLiteral("imgCamPause"));
    m_camSet->setIcon(QIcon(paused ? Artwork::camPlay() : Artwork::camPause()));
    // A picture alone says nothing to a screen reader: the name says what a press does.
    m_camSet->setAccessibleName(paused ? tr("Resume the camera") : tr("Pause the camera"));
    m_camSet->setToolTip(m_camSet->accessibleName());
}

void frmSelf::camSetClicked()
{
    if (m_camSet->property("tag").toString() == QLatin1String("Pause")) {
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

bool frmSelf::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
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
