#include "ui/DesktopOptionsGroup.h"

#include "desktop/ColourSchemeWatcher.h"
#include "desktop/GlobalTalkKey.h"
#include "desktop/HotKey.h"
#include "ui/DesktopIntegration.h"
#include "ui/TrayController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QSignalBlocker>

DesktopOptionsGroup::DesktopOptionsGroup(DesktopIntegration &desktop, QWidget *parent)
    : QGroupBox(tr("Desktop"), parent)
    , m_desktop(desktop)
{
    setObjectName(QStringLiteral("fraDesktop"));
    m_notify = new QCheckBox(tr("Notify me of calls, messages and the chat bell while ZELMO is in the background"),
                             this);
    m_notify->setObjectName(QStringLiteral("chkNotify"));
    m_trayIcon = new QCheckBox(tr("Show ZELMO in the system tray"), this);
    m_trayIcon->setObjectName(QStringLiteral("chkTrayIcon"));
    m_talkKey = new QComboBox(this);
    m_talkKey->setObjectName(QStringLiteral("cboTalkKey"));
    m_talkKey->addItem(tr("None"), QString());
    for (const HotKey &key : HotKey::offered())
        // The keys' own names ("F13") are the same in every language.
        m_talkKey->addItem(QCoreApplication::translate("HotKey", qPrintable(key.label)), key.name);
    m_colours = new QComboBox(this);
    m_colours->setObjectName(QStringLiteral("cboColourScheme"));
    m_colours->addItem(tr("System"), ColourSchemeWatcher::System);
    m_colours->addItem(tr("Light"), ColourSchemeWatcher::Light);
    m_colours->addItem(tr("Dark"), ColourSchemeWatcher::Dark);
    m_colours->setAccessibleDescription(tr("System follows the desktop's light or dark colour scheme"));
    m_talkKeyStatus = new QLabel(this);
    m_talkKeyStatus->setObjectName(QStringLiteral("lblTalkKey"));
    m_talkKeyStatus->setWordWrap(true);
    QPalette p = m_talkKeyStatus->palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::PlaceholderText));
    m_talkKeyStatus->setPalette(p);

    auto *form = new QFormLayout(this);
    form->addRow(m_notify);
    form->addRow(m_trayIcon);
    form->addRow(tr("&Talk key:"), m_talkKey);
    form->addRow(m_talkKeyStatus);
    form->addRow(tr("&Colours:"), m_colours);

    connect(m_notify, &QCheckBox::toggled, &m_desktop, &DesktopIntegration::setNotificationsOn);
    connect(m_trayIcon, &QCheckBox::toggled, &m_desktop, &DesktopIntegration::setTrayIconOn);
    connect(m_talkKey, &QComboBox::activated, this,
            [this](int index) { m_desktop.chooseTalkKey(m_talkKey->itemData(index).toString()); });
    connect(m_colours, &QComboBox::activated, this,
            [this](int index) { m_desktop.chooseColourScheme(m_colours->itemData(index).toString()); });
    connect(&m_desktop.talkKey(), &GlobalTalkKey::statusChanged, this, &DesktopOptionsGroup::showTalkKeyStatus);
    load();
}

void DesktopOptionsGroup::load()
{
    const QSignalBlocker quietNotify(m_notify);
    const QSignalBlocker quietTray(m_trayIcon);
    m_notify->setChecked(m_desktop.settings().Notifications);
    m_trayIcon->setChecked(m_desktop.settings().TrayIcon);
    m_colours->setCurrentIndex(qMax(0, m_colours->findData(m_desktop.colourScheme().choice())));
    m_trayIcon->setToolTip(TrayController::desktopHasTray()
                               ? QString()
                               : tr("This desktop shows no tray now; the icon appears if one starts."));
    showTalkKeyStatus();
}

void DesktopOptionsGroup::showTalkKeyStatus()
{
    const GlobalTalkKey &key = m_desktop.talkKey();
    const int index = m_talkKey->findData(key.chosen());
    m_talkKey->setCurrentIndex(index < 0 ? 0 : index);
    m_talkKey->setEnabled(key.isAvailable());
    const QString text = key.statusText();
    m_talkKeyStatus->setText(text);
    m_talkKey->setAccessibleDescription(text);
}
