#pragma once

#include "ui/SatelliteWindow.h"

class QLabel;

// The data-rates window: five live figures of the media stream. It only displays them;
// closing it only hides it.
class frmRates : public SatelliteWindow
{
    Q_OBJECT

public:
    enum Figure { FpsIn, FpsOut, ThIn, ThOut, FpsCap, FigureCount };

    explicit frmRates(QWidget *parent = nullptr);

    void setFigure(Figure figure, const QString &text);
    QString figure(Figure figure) const;
    // Puts the window beside the given main window; below `stackOn` (the self view) when
    // that window is showing at the same place, so neither hides the other.
    void placeBeside(const QWidget *mainWindow, const QWidget *stackOn = nullptr);

private:
    QLabel *m_values[FigureCount];
};
