#include "ui/frmErrorMsg.h"

#include "ui/Artwork.h"

#include <QCoreApplication>

frmErrorMsg::frmErrorMsg(QWidget *parent)
    : frmMessage(QStringLiteral("frmErrorMsg"), QCoreApplication::translate("frmErrorMsg", "ZELMO Error"),
                 Artwork::errorSign(), parent)
{
}
