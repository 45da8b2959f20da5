#pragma once

#include "ui/Artwork.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

// The tray icon where the desktop offers a tray, and its menu: Show ZELMO, Do Not Disturb,
// Hang Up during a call, Quit. The menu's items are the File menu's own commands: each
// triggers the File menu's item and follows its check mark and whether it can be used, so
// the two menus and the lamp never disagree. The menu exists without a tray too.
class TrayController : public QObject
{
    Q_OBJECT

public:
    // The File menu's do-not-disturb, hang-up and quit items.
    TrayController(QAction *doNotDisturb, QAction *hangUp, QAction *quit, QObject *parent = nullptr);
    ~TrayController() override;

    QMenu *menu() const { return m_menu.get(); }
    // "trayShow", "trayDoNotDisturb", "trayHangUp", "trayQuit".
    QAction *action(const QString &objectName) const;

    Artwork::TrayPicture picture() const;
    QString toolTip() const;

    // Shows or removes the icon; it is shown only where the desktop has a tray (and
    // appears when one starts later, as the platform allows).
    void setIconWanted(bool wanted);
    bool isIconWanted() const { return m_wanted; }
    QSystemTrayIcon *icon() const { return m_icon; }
    static bool desktopHasTray();

signals:
    // Show ZELMO, or a click on the icon.
    void showRequested();

private:
    void follow();

    QPointer<QAction> m_fileDoNotDisturb;
    QPointer<QAction> m_fileHangUp;
    std::unique_ptr<QMenu> m_menu;
    QAction *m_show;
    QAction *m_doNotDisturb;
    QAction *m_hangUp;
    QAction *m_quit;
    QSystemTrayIcon *m_icon = nullptr;
    bool m_wanted = false;
};
