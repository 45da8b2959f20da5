#include "ui/TrayController.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

TrayController::TrayController(QAction *doNotDisturb, QAction *hangUp, QAction *quit, QObject *parent)
    : QObject(parent)
    , m_fileDoNotDisturb(doNotDisturb)
    , m_fileHangUp(hangUp)
    , m_menu(std::make_unique<QMenu>())
{
    m_menu->setObjectName(QStringLiteral("mnuTray"));
    m_show = m_menu->addAction(tr("&Show ZELMO"));
    m_show->setObjectName(QStringLiteral("trayShow"));
    m_menu->addSeparator();
    m_doNotDisturb = m_menu->addAction(tr("&Do Not Disturb"));
    m_doNotDisturb->setObjectName(QStringLiteral("trayDoNotDisturb"));
    m_doNotDisturb->setCheckable(true);
    m_hangUp = m_menu->addAction(tr("&Hang Up"));
    m_hangUp->setObjectName(QStringLiteral("trayHangUp"));
    m_menu->addSeparator();
    m_quit = m_menu->addAction(tr("&Quit"));
    m_quit->setObjectName(QStringLiteral("trayQuit"));

    connect(m_show, &QAction::triggered, this, &TrayController::showRequested);
    // The File menu flips its own check mark and tells the program; the check here only
    // follows it.
    connect(m_doNotDisturb, &QAction::triggered, this, [this] {
        m_doNotDisturb->setChecked(m_fileDoNotDisturb && m_fileDoNotDisturb->isChecked());
        if (m_fileDoNotDisturb)
            m_fileDoNotDisturb->trigger();
    });
    connect(m_hangUp, &QAction::triggered, this, [this] {
        if (m_fileHangUp)
            m_fileHangUp->trigger();
    });
    connect(m_quit, &QAction::triggered, quit, &QAction::trigger);
    for (QAction *item : {doNotDisturb, hangUp})
        connect(item, &QAction::changed, this, &TrayController::follow);
    follow();
}

TrayController::~TrayController()
{
    delete m_icon;
}

QAction *TrayController::action(const QString &objectName) const
{
    for (QAction *a : m_menu->actions()) {
        if (a->objectName() == objectName)
            return a;
    }
    return nullptr;
}

Artwork::TrayPicture TrayController::picture() const
{
    if (m_hangUp->isVisible())
        return Artwork::TrayPicture::InCall;
    if (m_doNotDisturb->isChecked())
        return Artwork::TrayPicture::DoNotDisturb;
    return Artwork::TrayPicture::Idle;
}

QString TrayController::toolTip() const
{
    switch (picture()) {
    case Artwork::TrayPicture::InCall: return tr("ZELMO: in a call");
    case Artwork::TrayPicture::DoNotDisturb: return tr("ZELMO: Do Not Disturb");
    case Artwork::TrayPicture::Idle: break;
    }
    return QStringLiteral("ZELMO");
}

void TrayController::follow()
{
    const Artwork::TrayPicture before = picture();
    m_doNotDisturb->setChecked(m_fileDoNotDisturb && m_fileDoNotDisturb->isChecked());
    m_hangUp->setVisible(m_fileHangUp && m_fileHangUp->isEnabled());
    if (m_icon && (picture() != before || m_icon->icon().isNull())) {
        m_icon->setIcon(Artwork::trayIcon(picture()));
        m_icon->setToolTip(toolTip());
    }
}

bool TrayController::desktopHasTray()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayController::setIconWanted(bool wanted)
{
    m_wanted = wanted;
    if (!wanted) {
        delete m_icon;
        m_icon = nullptr;
        return;
    }
    if (m_icon)
        return;
    m_icon = new QSystemTrayIcon(Artwork::trayIcon(picture()));
    m_icon->setObjectName(QStringLiteral("trayIcon"));
    m_icon->setToolTip(toolTip());
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit showRequested();
    });
    m_icon->show();
}
