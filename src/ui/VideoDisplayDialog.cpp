#include "ui/VideoDisplayDialog.h"

#include "media/VideoEngine.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

VideoDisplayDialog::VideoDisplayDialog(VideoEngine *engine, QWidget *parent)
    : QDialog(parent)
    , m_engine(engine)
{
    setObjectName(QStringLiteral("frmVideoDisplay"));
    setWindowTitle(tr("Video Display"));

    m_mirror = new QCheckBox(tr("Show the self view mirrored"), this);
    m_mirror->setObjectName(QStringLiteral("chkMirror"));
    m_mirror->setChecked(engine && engine->previewMirror());

    auto *buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QDialogButtonBox::Ok);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_cancel = buttons->addButton(QDialogButtonBox::Cancel);
    m_cancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &VideoDisplayDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &VideoDisplayDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_mirror);
    layout->addWidget(buttons);
}

void VideoDisplayDialog::accept()
{
    if (m_engine)
        m_engine->setPreviewMirror(m_mirror->isChecked());
    QDialog::accept();
}
