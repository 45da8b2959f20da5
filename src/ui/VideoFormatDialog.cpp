#include "ui/VideoFormatDialog.h"

#include "media/VideoEngine.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

VideoFormatDialog::VideoFormatDialog(VideoEngine *engine, QWidget *parent)
    : QDialog(parent)
    , m_engine(engine)
{
    setObjectName(QStringLiteral("frmVideoFormat"));
    setWindowTitle(tr("Video Format"));

    const QString driver = engine ? engine->driverGetName() : QString();
    m_driver = new QLabel(driver.isEmpty() ? tr("No video device is connected.") : driver, this);
    m_driver->setObjectName(QStringLiteral("lblDriverName"));

    m_formats = new QListWidget(this);
    m_formats->setObjectName(QStringLiteral("lstFormats"));
    m_formats->addItem(tr("Automatic"));
    const QList<CameraFormat> formats = engine ? engine->driverFormats() : QList<CameraFormat>();
    for (const CameraFormat &f : formats)
        m_formats->addItem(f.description());
    m_formats->setCurrentRow(engine ? engine->chosenFormat() + 1 : 0);
    m_formats->setEnabled(!formats.isEmpty());

    m_sizes = new QComboBox(this);
    m_sizes->setObjectName(QStringLiteral("cboCaptureSize"));
    const QSize current = engine ? engine->captureSize() : QSize(320, 240);
    for (const QSize &size : VideoEngine::captureSizes()) {
        m_sizes->addItem(QStringLiteral("%1x%2").arg(size.width()).arg(size.height()), size);
        if (size == current)
            m_sizes->setCurrentIndex(m_sizes->count() - 1);
    }

    auto *buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QDialogButtonBox::Ok);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_cancel = buttons->addButton(QDialogButtonBox::Cancel);
    m_cancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &VideoFormatDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &VideoFormatDialog::reject);

    auto *form = new QFormLayout;
    form->addRow(tr("Device:"), m_driver);
    form->addRow(tr("Camera format:"), m_formats);
    form->addRow(tr("Send video at:"), m_sizes);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void VideoFormatDialog::accept()
{
    if (m_engine) {
        const int format = std::max(0, m_formats->currentRow()) - 1;
        m_engine->setCaptureFormat(format, m_sizes->currentData().toSize());
    }
    QDialog::accept();
}
