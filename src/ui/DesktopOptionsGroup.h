#pragma once

#include <QGroupBox>

class DesktopIntegration;
class QCheckBox;
class QComboBox;
class QLabel;

// The options' "Desktop" group: notifications while ZELMO is in the background, the tray
// icon, and the talk key that works in every window, with a line that says what the key
// does now (or that the desktop refused it, or that there is no such key here), and the
// windows' colours. Each
// choice applies at once, like the volume.
class DesktopOptionsGroup : public QGroupBox
{
    Q_OBJECT

public:
    explicit DesktopOptionsGroup(DesktopIntegration &desktop, QWidget *parent = nullptr);

    // Shows the choices as they are now.
    void load();

private:
    void showTalkKeyStatus();

    DesktopIntegration &m_desktop;
    QCheckBox *m_notify;
    QCheckBox *m_trayIcon;
    QComboBox *m_talkKey;
    QLabel *m_talkKeyStatus;
    QComboBox *m_colours;
};
