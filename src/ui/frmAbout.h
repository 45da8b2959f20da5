#pragma once

#include <QDialog>

// The about box, opened from the Help menu.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;
};
