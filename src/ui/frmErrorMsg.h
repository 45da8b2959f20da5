#pragma once

#include "ui/frmMessage.h"

// The error window: device errors are shown here, with the same behaviour as the
// information window but its own caption and picture.
class frmErrorMsg : public frmMessage
{
    Q_OBJECT

public:
    explicit frmErrorMsg(QWidget *parent = nullptr);
};
