#pragma once

#include <QWidget>

class frmDirectory : public QWidget
{
    Q_OBJECT

public:
    explicit frmDirectory(QWidget *parent = nullptr);
};
