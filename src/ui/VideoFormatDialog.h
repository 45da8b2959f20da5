#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class VideoEngine;

// The camera's formats and the size frames are captured and sent at. The choice is kept
// per driver by the engine and applied when the dialog is accepted.
class VideoFormatDialog : public QDialog
{
    Q_OBJECT

public:
    explicit VideoFormatDialog(VideoEngine *engine, QWidget *parent = nullptr);

    // Row 0 is "Automatic"; row n is the camera's format n - 1.
    QListWidget *formatList() const { return m_formats; }
    QComboBox *captureSizeBox() const { return m_sizes; }

    void accept() override;

private:
    VideoEngine *m_engine;
    QLabel *m_driver;
    QListWidget *m_formats;
    QComboBox *m_sizes;
    QPushButton *m_ok;
    QPushButton *m_cancel;
};
