#pragma once

#include <QWidget>

class frmOptions : public QWidget
{
    Q_OBJECT

public:
    explicit frmOptions(QWidget *parent = nullptr);
};
