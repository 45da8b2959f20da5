#include "ui/frmDirectory.h"

frmDirectory::frmDirectory(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmDirectory"));
    setWindowTitle(QStringLiteral("ZELMO Directory"));
}
