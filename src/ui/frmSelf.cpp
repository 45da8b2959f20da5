#include "ui/frmSelf.h"

frmSelf::frmSelf(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmSelf"));
    setWindowTitle(QStringLiteral("Self View"));
}
