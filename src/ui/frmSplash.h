#pragma once

#include <QWidget>

// The splash window shown during start-up.
class frmSplash : public QWidget
{
    Q_OBJECT

public:
    explicit frmSplash(QWidget *parent = nullptr);
};
