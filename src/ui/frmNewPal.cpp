#include "ui/frmNewPal.h"

#include "directory/PalService.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

frmNewPal::frmNewPal(PalService &service, QWidget *parent)
    : QDialog(parent)
    , m_service(service)
    , m_txtEmail(new QLineEdit(this))
    , m_cmdOK(new QPushButton(tr("OK"), this))
    , m_cmdClose(new QPushButton(tr("Close"), this))
{
    setObjectName(QStringLiteral("frmNewPal"));
    setWindowTitle(tr("New Pal"));
    setModal(false);
    m_txtEmail->setObjectName(QStringLiteral("txtEmail"));
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdClose->setObjectName(QStringLiteral("cmdClose"));
    m_txtEmail->setMaxLength(100);
    m_cmdOK->setDefault(true);

    auto *label = new QLabel(tr("Pal's E-Mail Address:"), this);
    label->setBuddy(m_txtEmail);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdOK);
    buttons->addWidget(m_cmdClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_txtEmail);
    layout->addLayout(buttons);
    setMinimumWidth(300);

    connect(m_cmdOK, &QPushButton::clicked, this, &frmNewPal::cmdOK_Click);
    connect(m_cmdClose, &QPushButton::clicked, this, &QDialog::close);
}

void frmNewPal::cmdOK_Click()
{
    if (m_txtEmail->text().trimmed().isEmpty()) {
        auto *box = new QMessageBox(QMessageBox::Information, tr("Pal Entry"),
                                    tr("You must enter an email address to add this Pal"),
                                    QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("MessageBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    m_service.addPal(m_txtEmail->text());
    m_txtEmail->clear();
    close();
}
