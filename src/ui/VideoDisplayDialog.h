#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;
class VideoEngine;

// How the self view shows the local picture. Only the self view changes; the frames sent
// stay as the camera sees them.
class VideoDisplayDialog : public QDialog
{
    Q_OBJECT

public:
    explicit VideoDisplayDialog(VideoEngine *engine, QWidget *parent = nullptr);

    QCheckBox *mirrorBox() const { return m_mirror; }

    void accept() override;

private:
    VideoEngine *m_engine;
    QCheckBox *m_mirror;
    QPushButton *m_ok;
    QPushButton *m_cancel;
};
