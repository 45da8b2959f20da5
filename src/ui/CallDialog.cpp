#include "ui/CallDialog.h"

#include <QCloseEvent>

void CallDialog::finish()
{
    if (m_closed)
        return;
    m_closed = true;
    closing();
    emit closed();
}

void CallDialog::reject()
{
    finish();
    QDialog::reject();
}

void CallDialog::closeEvent(QCloseEvent *event)
{
    finish();
    QDialog::closeEvent(event);
}
