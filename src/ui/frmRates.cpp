#include "ui/frmRates.h"

#include <QGridLayout>
#include <QLabel>

frmRates::frmRates(QWidget *parent)
    : SatelliteWindow(parent)
{
    setObjectName(QStringLiteral("frmRates"));
    setWindowTitle(tr("Data Rates"));

    struct Row { const char *name; const char *label; const char *unit; const char *value; };
    const Row rows[FigureCount] = {
        {"pnlFpsIn", QT_TR_NOOP("Input Frame Rate:"), QT_TR_NOOP("(fps)"), "0.0"},
        {"pnlFpsOut", QT_TR_NOOP("Output Frame Rate:"), QT_TR_NOOP("(fps)"), "0.0"},
        {"pnlThIn", QT_TR_NOOP("Input Throughput:"), QT_TR_NOOP("(bps)"), "0.0"},
        {"pnlThOut", QT_TR_NOOP("Output Throughput:"), QT_TR_NOOP("(bps)"), "0.0"},
        {"pnlFpsCap", QT_TR_NOOP("Captured Video:"), QT_TR_NOOP("(fps)"), "0.0"},
        {"pnlQualityOut", QT_TR_NOOP("Output Quality:"), QT_TR_NOOP("(JPEG)"), "-"},
        {"pnlSizeOut", QT_TR_NOOP("Output Picture:"), QT_TR_NOOP("(pixels)"), "-"},
        {"pnlCodec", QT_TR_NOOP("Formats:"), "", "-"},
        {"pnlEstimate", QT_TR_NOOP("Path Estimate:"), QT_TR_NOOP("(kbps)"), "-"},
        {"pnlLost", QT_TR_NOOP("Lost:"), QT_TR_NOOP("(frames)"), "-"}};
    auto *grid = new QGridLayout(this);
    grid->setHorizontalSpacing(8);
    for (int i = 0; i < FigureCount; ++i) {
        grid->addWidget(new QLabel(tr(rows[i].label), this), i, 0);
        m_values[i] = new QLabel(QString::fromLatin1(rows[i].value), this);
        m_values[i]->setObjectName(QString::fromLatin1(rows[i].name));
        m_values[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_values[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        m_values[i]->setMinimumWidth(70);
        grid->addWidget(m_values[i], i, 1);
        grid->addWidget(new QLabel(*rows[i].unit ? tr(rows[i].unit) : QString(), this), i, 2);
    }
    setFixedSize(sizeHint());
}

void frmRates::setFigure(Figure figure, const QString &text)
{
    m_values[figure]->setText(text);
}

QString frmRates::figure(Figure figure) const
{
    return m_values[figure]->text();
}

void frmRates::showSentPicture(int quality, int width, int height)
{
    setFigure(QualityOut, quality > 0 ? QString::number(quality) : QStringLiteral("-"));
    setFigure(SizeOut, width > 0 ? QStringLiteral("%1x%2").arg(width).arg(height) : QStringLiteral("-"));
}

void frmRates::showCodecFigures(const QString &codec, const QString &estimate, const QString &lost)
{
    setFigure(Codec, codec);
    setFigure(Estimate, estimate);
    setFigure(Lost, lost);
}
