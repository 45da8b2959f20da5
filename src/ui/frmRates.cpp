#include "ui/frmRates.h"

#include <QGridLayout>
#include <QLabel>

frmRates::frmRates(QWidget *parent)
    : SatelliteWindow(parent)
{
    setObjectName(QStringLiteral("frmRates"));
    setWindowTitle(QStringLiteral("Data Rates"));

    struct Row { const char *name; const char *label; const char *unit; const char *value; };
    const Row rows[FigureCount] = {
        {"pnlFpsIn", "Input Frame Rate:", "(fps)", "0.0"},   {"pnlFpsOut", "Output Frame Rate:", "(fps)", "0.0"},
        {"pnlThIn", "Input Throughput:", "(bps)", "0.0"},    {"pnlThOut", "Output Throughput:", "(bps)", "0.0"},
        {"pnlFpsCap", "Captured Video:", "(fps)", "0.0"},
        {"pnlQualityOut", "Output Quality:", "(JPEG)", "-"}, {"pnlSizeOut", "Output Picture:", "(pixels)", "-"}};
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
        grid->addWidget(new QLabel(tr(rows[i].unit), this), i, 2);
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
    const bool sending = quality > 0;
    setFigure(QualityOut, sending ? QString::number(quality) : QStringLiteral("-"));
    setFigure(SizeOut, sending ? QStringLiteral("%1x%2").arg(width).arg(height) : QStringLiteral("-"));
}
