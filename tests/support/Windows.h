#pragma once

// The windows of a running program, for the scenarios that drive them: the shell, every
// window and controller, the widgets their controls are made of, and a few ways to reach
// a control by its name.

#include "support/RunningProgram.h"
#include "ui/DesktopIntegration.h"
#include "ui/MainWindowController.h"
#include "ui/MessageWindows.h"
#include "ui/TrayController.h"
#include "ui/VideoFormatDialog.h"
#include "ui/VideoView.h"
#include "ui/WindowPlacement.h"
#include "ui/WindowShell.h"
#include "ui/frmAbout.h"
#include "ui/frmBusyNotify.h"
#include "ui/frmCallIn.h"
#include "ui/frmConStatus.h"
#include "ui/frmDirectory.h"
#include "ui/frmErrorMsg.h"
#include "ui/frmHelp.h"
#include "ui/frmLog.h"
#include "ui/frmMain.h"
#include "ui/frmMessage.h"
#include "ui/frmMsgIn.h"
#include "ui/frmMsgOut.h"
#include "ui/frmNewChat.h"
#include "ui/frmOptions.h"
#include "ui/frmRates.h"
#include "ui/frmRedirect.h"
#include "ui/frmSelf.h"
#include "ui/frmSplash.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

// A window's control of this object name; the scenario stops when there is none.
template<typename T = QWidget>
T *control(const QObject *window, const char *name)
{
    T *found = window ? window->findChild<T *>(QString::fromLatin1(name)) : nullptr;
    if (!found)
        qFatal("no control %s", name);
    return found;
}

// What a label, a box or a button shows.
inline QString shown(const QObject *window, const char *name)
{
    QWidget *w = control(window, name);
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *line = qobject_cast<QLineEdit *>(w))
        return line->text();
    if (auto *text = qobject_cast<QPlainTextEdit *>(w))
        return text->toPlainText();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    if (auto *box = qobject_cast<QComboBox *>(w))
        return box->currentText();
    return {};
}

// A left click in the middle of a control, as a person makes it.
inline void click(const QObject *window, const char *name)
{
    QTest::mouseClick(control(window, name), Qt::LeftButton);
}

// What assistive technology reads of a control (its name unless asked for another text),
// and what it takes the control for.
inline QString said(QObject *control, QAccessible::Text text = QAccessible::Name)
{
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(control);
    return a ? a->text(text) : QString();
}
inline QAccessible::Role accessibleRole(QObject *control)
{
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(control);
    return a ? a->role() : QAccessible::NoRole;
}

// The texts of the message boxes a window has open.
inline QStringList boxTexts(const QObject *window)
{
    QStringList texts;
    for (const QMessageBox *box : window->findChildren<QMessageBox *>())
        texts << box->text();
    return texts;
}
