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

private:
    QLabel *m_values[FigureCount];
};
