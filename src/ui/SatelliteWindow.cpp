#include "ui/SatelliteWindow.h"

#include <QCloseEvent>

SatelliteWindow::SatelliteWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
}

void SatelliteWindow::closeEvent(QCloseEvent *event)
{
    if (m_closing) {
        unloading();
        event->accept();
        return;
    }
    event->ignore();
    hide();
    emit hiddenByUser();
}
