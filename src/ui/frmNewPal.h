#pragma once

#include <QDialog>

class PalService;
class QLineEdit;
class QPushButton;

// Adds a pal by e-mail address and looks it up at once.
class frmNewPal : public QDialog
{
    Q_OBJECT

public:
    explicit frmNewPal(PalService &service, QWidget *parent = nullptr);

private:
    void cmdOK_Click();

    PalService &m_service;
    QLineEdit *m_txtEmail;
    QPushButton *m_cmdOK;
    QPushButton *m_cmdClose;
};
