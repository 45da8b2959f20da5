#pragma once

#include <QDialog>

class DirectoryService;
class QLabel;
class QPushButton;

// A directory server's suggestion to move to another one: the address and description,
// "Yes" to move there, "No" to stay. It goes away once answered.
class frmRedirect : public QDialog
{
    Q_OBJECT

public:
    frmRedirect(DirectoryService &service, const QString &host, int port, const QString &description,
                QWidget *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void cmdYes_Click();

    DirectoryService &m_service;
    QLabel *m_pnlAddress;
    QLabel *m_pnlDesc;
    QPushButton *m_cmdYes;
    QPushButton *m_cmdNo;
};
