#pragma once

#include <QDialog>

// The about box, opened from the Help menu.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);

    // "ZELMO for" the system this program runs on and its processor.
    static QString platformLine();

protected:
    void showEvent(QShowEvent *event) override;
};
