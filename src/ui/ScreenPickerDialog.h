#pragma once

#include "share/ScreenTarget.h"

#include <QDialog>
#include <QList>

class QListWidget;
class QPushButton;

// ZELMO's own list of what can be shared on an X display without the desktop's portal:
// the screens first, then the windows by their titles. Nothing is selected at first, so
// nothing is shared until the user picks a row; the dialog only reports the choice.
class ScreenPickerDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ScreenPickerDialog(const QList<ScreenTarget> &targets, QWidget *parent = nullptr);

    // The row selected (a default target, window 0, when none is).
    ScreenTarget chosen() const;
    QListWidget *list() const { return m_list; }

private:
    QList<ScreenTarget> m_targets;
    QListWidget *m_list;
    QPushButton *m_share;
};
