#include "ui/VideoSourceDialog.h"

#include "media/VideoEngine.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

VideoSourceDialog::VideoSourceDialog(VideoEngine *engine, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmVideoSource"));
    setWindowTitle(tr("Video Source"));

    const QString driver = engine ? engine->driverGetName() : QString();
    m_driver = new QLabel(driver.isEmpty() ? tr("No video device is connected.") : driver, this);
    m_driver->setObjectName(QStringLiteral("lblDriverName"));

    m_sources = new QComboBox(this);
    m_sources->setObjectName(QStringLiteral("cboSource"));
    if (engine) {
        m_sources->addItems(engine->driverNames());
        if (engine->connectedDriver() >= 0 && engine->connectedDriver() < m_sources->count())
            m_sources->setCurrentIndex(engine->connectedDriver());
    }
    m_sources->setEnabled(m_sources->count() > 1);

    auto *buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QDialogButtonBox::Ok);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_ok->setEnabled(m_sources->count() > 0);
    m_cancel = buttons->addButton(QDialogButtonBox::Cancel);
    m_cancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *form = new QFormLayout;
    form->addRow(tr("Connected device:"), m_driver);
    form->addRow(tr("Use device:"), m_sources);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

int VideoSourceDialog::chosenDriver() const
{
    return m_sources->currentIndex();
}
