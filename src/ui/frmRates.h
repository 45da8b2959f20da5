#pragma once

#include "ui/SatelliteWindow.h"

class QLabel;

// The data-rates window: five live figures of the media stream, and the quality and size
// video is being sent at. It only displays them; closing it only hides it.
class frmRates : public SatelliteWindow
{
    Q_OBJECT

public:
    enum Figure { FpsIn, FpsOut, ThIn, ThOut, FpsCap, QualityOut, SizeOut, Codec, Estimate, Lost, FigureCount };

    explicit frmRates(QWidget *parent = nullptr);

    void setFigure(Figure figure, const QString &text);
    QString figure(Figure figure) const;
    // The picture video goes out at; a size of 0 while none is being sent, a quality of 0
    // for a picture that is not JPEG.
    void showSentPicture(int quality, int width, int height);
    // The call's formats, the estimate of what the path carries and what was lost.
    void showCodecFigures(const QString &codec, const QString &estimate, const QString &lost);

private:
    QLabel *m_values[FigureCount];
};
