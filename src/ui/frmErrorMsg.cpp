#include "ui/frmErrorMsg.h"

#include "ui/Artwork.h"

frmErrorMsg::frmErrorMsg(QWidget *parent)
    : frmMessage(QStringLiteral("frmErrorMsg"), QStringLiteral("ZELMO Error"), Artwork::errorSign(), parent)
{
}
