#pragma once

#include "ui/SatelliteWindow.h"

class QLabel;

// The data-rates window: five live figures of the media stream, and the quality and size
// video is being sent at. It only displays them; closing it only hides it.
class frmRates : public SatelliteWindow
{
    Q_OBJECT

public:
    enum Figure { FpsIn, FpsOut, ThIn, ThOut, FpsCap, QualityOut, SizeOut, FigureCount };

    explicit frmRates(QWidget *parent = nullptr);

    void setFigure(Figure figure, const QString &text);
    QString figure(Figure figure) const;
    // The picture video goes out at; a quality of 0 while none is being sent.
    void showSentPicture(int quality, int width, int height);

private:
    QLabel *m_values[FigureCount];
};
