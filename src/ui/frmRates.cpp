#include "ui/frmRates.h"

#include <QGridLayout>
#include <QLabel>

frmRates::frmRates(QWidget *parent)
    : SatelliteWindow(parent)
{
    setObjectName(QStringLiteral("frmRates"));
    setWindowTitle(QStringLiteral("Data Rates"));

    struct Row { const char *name; const char *label; const char *unit; };
    const Row rows[FigureCount] = {
        {"pnlFpsIn", "Input Frame Rate:", "(fps)"},   {"pnlFpsOut", "Output Frame Rate:", "(fps)"},
        {"pnlThIn", "Input Throughput:", "(bps)"},    {"pnlThOut", "Output Throughput:", "(bps)"},
        {"pnlFpsCap", "Captured Video:", "(fps)"}};
    auto *grid = new QGridLayout(this);
    grid->setHorizontalSpacing(8);
    for (int i = 0; i < FigureCount; ++i) {
        grid->addWidget(new QLabel(tr(rows[i].label), this), i, 0);
        m_values[i] = new QLabel(QStringLiteral("0.0"), this);
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
