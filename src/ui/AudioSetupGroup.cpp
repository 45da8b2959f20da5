#include "ui/AudioSetupGroup.h"

#include "media/AudioRoute.h"
#include "media/AudioSetup.h"
#include "media/AudioEngine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QProgressBar>
#include <QSignalBlocker>

namespace {

QCheckBox *checkBox(const char *name, const QString &caption, QWidget *parent)
{
    auto *box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

} // namespace

AudioSetupGroup::AudioSetupGroup(AudioSetup &setup, QWidget *parent)
    : QGroupBox(tr("Microphone and Speaker"), parent)
    , m_setup(setup)
{
    setObjectName(QStringLiteral("fraSoundDevices"));
    m_microphone = new QComboBox(this);
    m_microphone->setObjectName(QStringLiteral("cboMicrophone"));
    m_speaker = new QComboBox(this);
    m_speaker->setObjectName(QStringLiteral("cboSpeaker"));
    m_meter = new QProgressBar(this);
    m_meter->setObjectName(QStringLiteral("pbrMicLevelTest"));
    m_meter->setRange(0, 100);
    m_meter->setTextVisible(false);
    m_meter->setMaximumHeight(10);
    m_meter->setAccessibleName(tr("Microphone level"));
    m_meter->setToolTip(tr("How loud the microphone is while it is open (record a sound test to try it)"));
    m_echo = checkBox("chkEchoCancel", tr("Cancel the echo of the other side's voice"), this);
    m_noise = checkBox("chkNoiseSuppress", tr("Suppress steady noise (fans, hum)"), this);
    m_level = checkBox("chkAutoLevel", tr("Even out my voice's level"), this);

    auto *form = new QFormLayout(this);
    form->addRow(tr("&Microphone:"), m_microphone);
    form->addRow(tr("Level:"), m_meter);
    form->addRow(tr("S&peaker:"), m_speaker);
    form->addRow(m_echo);
    form->addRow(m_noise);
    form->addRow(m_level);

    connect(m_echo, &QCheckBox::toggled, &m_setup, &AudioSetup::setEchoCancellation);
    connect(m_noise, &QCheckBox::toggled, &m_setup, &AudioSetup::setNoiseSuppression);
    connect(m_level, &QCheckBox::toggled, &m_setup, &AudioSetup::setAutomaticLevel);
    connect(m_microphone, &QComboBox::activated, this,
            [this](int index) { m_setup.pinMicrophone(m_microphone->itemData(index).toByteArray()); });
    connect(m_speaker, &QComboBox::activated, this,
            [this](int index) { m_setup.pinSpeaker(m_speaker->itemData(index).toByteArray()); });
    connect(&m_setup.route(), &AudioRoute::devicesChanged, this, [this] {
        fillDevices(m_microphone, true);
        fillDevices(m_speaker, false);
    });
    connect(&m_setup.engine(), &AudioEngine::inputLevelChanged, m_meter, &QProgressBar::setValue);
    load();
}

void AudioSetupGroup::load()
{
    const QSignalBlocker quietEcho(m_echo);
    const QSignalBlocker quietNoise(m_noise);
    const QSignalBlocker quietLevel(m_level);
    m_echo->setChecked(m_setup.settings().EchoCancellation);
    m_noise->setChecked(m_setup.settings().NoiseSuppression);
    m_level->setChecked(m_setup.settings().AutomaticLevel);
    fillDevices(m_microphone, true);
    fillDevices(m_speaker, false);
    m_meter->setValue(m_setup.engine().inputLevel());
}

void AudioSetupGroup::fillDevices(QComboBox *box, bool input)
{
    const QSignalBlocker quiet(box);
    const AudioRoute &route = m_setup.route();
    const QList<DeviceProvider::SoundDevice> devices = input ? route.inputs() : route.outputs();
    const QByteArray pinned = input ? route.pinnedInput() : route.pinnedOutput();
    const QByteArray current = input ? route.currentInput() : route.currentOutput();
    box->clear();
    QString inUse;
    for (const DeviceProvider::SoundDevice &d : devices) {
        if (d.id == current)
            inUse = d.description;
    }
    box->addItem(inUse.isEmpty() || !pinned.isEmpty() ? tr("System default")
                                                       : tr("System default (%1)").arg(inUse),
                 QByteArray());
    for (const DeviceProvider::SoundDevice &d : devices)
        box->addItem(d.description.isEmpty() ? QString::fromUtf8(d.id) : d.description, d.id);
    // A pinned device that is not there now stays chosen, marked as missing.
    int chosen = pinned.isEmpty() ? 0 : box->findData(pinned);
    if (chosen < 0) {
        box->addItem(tr("%1 (not connected)").arg(QString::fromUtf8(pinned)), pinned);
        chosen = box->count() - 1;
    }
    box->setCurrentIndex(chosen);
}
