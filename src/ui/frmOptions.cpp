#include "ui/frmOptions.h"

frmOptions::frmOptions(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("ZELMO Properties"));
}
