#pragma once

#include "ui/SatelliteWindow.h"

#include <QRect>

#include <optional>

class CaptureControl;
class QFrame;
class QLabel;
class QPushButton;
class QToolButton;
class ScreenShare;
class VideoEngine;
class VideoView;

// The self view: the local camera's picture (pnlCapture), the capture size (pnlSelf), the
// pause/play button (cmdCamSet, whose "tag" property holds "Pause" or "Play") and the
// settings button; in a call the Share Screen button, and while a screen is shared a line
// that says so with the Stop Sharing button (the sharing service decides, this window shows
// its state and passes the clicks on). Loading it starts capture; closing it only hides it, and only the
// program's shutdown unloads it, which releases the camera.
class frmSelf : public SatelliteWindow
{
    Q_OBJECT

public:
    frmSelf(CaptureControl &capture, VideoEngine &engine, ScreenShare &share, QWidget *parent = nullptr);

    VideoView *pnlCapture() const { return m_picture; }
    QLabel *pnlSelf() const { return m_status; }
    QToolButton *cmdCamSet() const { return m_camSet; }
    QPushButton *cmdSettings() const { return m_settings; }
    QPushButton *cmdShare() const { return m_shareButton; }
    QPushButton *cmdStopShare() const { return m_stopShare; }
    QLabel *lblSharing() const { return m_sharingLine; }

    // Keeps the window beside the main window: when the option is on, the main window is
    // in its normal state, this window is visible and the main window moved or changed
    // size since the last placement, this window goes to its right, or to its left when it
    // would not fit on the screen, at the same top.
    void followMainWindow(const QWidget *mainWindow, bool moveAllWin);

signals:
    void settingsRequested();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void unloading() override;

private:
    void camSetClicked();
    void showCamSet(bool paused);
    void applyPictureSize(QSize picture, const QString &caption);
    void showShareState();

    CaptureControl &m_capture;
    VideoEngine &m_engine;
    VideoView *m_picture;
    QLabel *m_status;
    QToolButton *m_camSet;
    bool m_paused = false;
    QPushButton *m_settings;
    ScreenShare &m_share;
    QPushButton *m_shareButton;
    QFrame *m_sharingRow;
    QLabel *m_sharingLine;
    QPushButton *m_stopShare;
    std::optional<QRect> m_lastMainPlace;
};
