#pragma once

#include <QGroupBox>

class AudioSetup;
class QCheckBox;
class QComboBox;
class QProgressBar;

// The options' "Microphone and Speaker" group: which devices to use (the system's
// default, followed as it changes, or one pinned), the microphone's processing, and a
// level meter that shows what the microphone hears while it is open (during the sound
// test, for one). Each choice applies at once, like the volume.
class AudioSetupGroup : public QGroupBox
{
    Q_OBJECT

public:
    explicit AudioSetupGroup(AudioSetup &setup, QWidget *parent = nullptr);

    // Shows the choices and the devices as they are now.
    void load();

private:
    void fillDevices(QComboBox *box, bool input);

    AudioSetup &m_setup;
    QComboBox *m_microphone;
    QComboBox *m_speaker;
    QCheckBox *m_echo;
    QCheckBox *m_noise;
    QCheckBox *m_level;
    QProgressBar *m_meter;
};
