#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class VideoEngine;

// Shows the connected video device and lets the user pick another. The dialog only
// reports the choice (chosenDriver); switching drivers is the caller's business.
class VideoSourceDialog : public QDialog
{
    Q_OBJECT

public:
    explicit VideoSourceDialog(VideoEngine *engine, QWidget *parent = nullptr);

    // Index of the device picked, -1 when there is none to pick.
    int chosenDriver() const;
    QComboBox *sourceBox() const { return m_sources; }

private:
    QLabel *m_driver;
    QComboBox *m_sources;
    QPushButton *m_ok;
    QPushButton *m_cancel;
};
