#pragma once

#include "core/OptionsLogic.h"

#include <QDialog>

class AudioControl;
class AudioSetup;
class AudioSetupGroup;
class CaptureControl;
class DesktopIntegration;
class DesktopOptionsGroup;
class MediaFormatChoice;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;
class QTreeWidget;
class VideoEngine;
class SecurityOptionsGroup;
class ReachOptionsGroup;
class ReachabilityService;
class SecurityService;
struct Settings;

// "ZELMO Properties": the user's settings in five tabs. It loads the settings each time it
// opens; OK checks and saves them (through OptionsLogic), Cancel, Esc and the close box
// leave them as they were. Quality choices, the volume, the video device and removing a
// refused sender take effect at once.
class frmOptions : public QDialog
{
    Q_OBJECT

public:
    enum Tab { Personal, General, Video, Audio, Messaging };

    struct Context
    {
        OptionsLogic &logic;
        CaptureControl &capture;
        AudioControl &audio;
        VideoEngine &video;
        const Settings &settings;
        // The desktop group of the General tab; none without it.
        DesktopIntegration *desktop = nullptr;
        // The Audio tab's devices and processing; none without it.
        AudioSetup *audioSetup = nullptr;
        // The encryption group of the General tab; none without it.
        SecurityService *security = nullptr;
        // The reachability group of the General tab; none without it.
        ReachabilityService *reach = nullptr;
        // The Video tab's choice of picture and sound formats; none without it.
        MediaFormatChoice *formats = nullptr;
    };

    explicit frmOptions(Context context, QWidget *parent = nullptr);

    // What the controls hold now.
    OptionsLogic::Values values() const;
    QTabWidget *tabs() const { return m_tabs; }
    void showTab(Tab tab);
    // The directory servers the box offers besides the one typed.
    void setDirectoryChoices(const QStringList &addresses);

    // OK: checks, saves and closes; a refusal keeps the dialog open.
    void accept() override;
    // Cancel, Esc, the close box: closes without saving.
    void reject() override;

signals:
    void videoFormatRequested();
    void helpRequested();

protected:
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;

private:
    QWidget *buildPersonal();
    QWidget *buildGeneral();
    QWidget *buildVideo();
    QWidget *buildAudio();
    QWidget *buildMessaging();
    void loadControls();
    void loadDrivers();
    void loadRefused();
    void chooseVideoSource();
    QLineEdit *textBox(const char *name, int maxLength, bool filtered);

    Context m_;
    QTabWidget *m_tabs;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_email = nullptr;
    QLineEdit *m_location = nullptr;
    QLineEdit *m_comment = nullptr;
    QCheckBox *m_showOnList = nullptr;
    QComboBox *m_dirAddress = nullptr;
    QCheckBox *m_autoAccept = nullptr;
    QCheckBox *m_sendWelcome = nullptr;
    QLineEdit *m_welcomeMsg = nullptr;
    QCheckBox *m_realChat = nullptr;
    QCheckBox *m_saveWinPos = nullptr;
    QCheckBox *m_moveAllWin = nullptr;
    QCheckBox *m_rememberWin = nullptr;
    QComboBox *m_videoDevice = nullptr;
    QRadioButton *m_qualityHigh = nullptr;
    QRadioButton *m_qualityLow = nullptr;
    QCheckBox *m_imageMsgOn = nullptr;
    QLineEdit *m_imageMsg = nullptr;
    QCheckBox *m_publishedOnly = nullptr;
    QRadioButton *m_phoneQ = nullptr;
    QRadioButton *m_radioQ = nullptr;
    QProgressBar *m_audioTest = nullptr;
    QSlider *m_volume = nullptr;
    QCheckBox *m_qmDisable = nullptr;
    QTreeWidget *m_refused = nullptr;
    QPushButton *m_removeRefused = nullptr;
    DesktopOptionsGroup *m_desktop = nullptr;
    AudioSetupGroup *m_audioSetup = nullptr;
    SecurityOptionsGroup *m_security = nullptr;
    ReachOptionsGroup *m_reach = nullptr;
};
