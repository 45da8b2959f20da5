#pragma once

#include <QWidget>

class frmSelf : public QWidget
{
    Q_OBJECT

public:
    explicit frmSelf(QWidget *parent = nullptr);
};
