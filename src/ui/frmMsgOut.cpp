#include "ui/frmMsgOut.h"

#include "messages/MessageComposer.h"
#include "messages/QuickMessageProtocol.h"
#include "ui/Artwork.h"
#include "ui/MessageWindowParts.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

using MessageWindowParts::button;
using MessageWindowParts::valuePanel;

frmMsgOut::frmMsgOut(const MessageComposer::Context &context, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_composer(new MessageComposer(context, this))
    , m_animate(new QTimer(this))
{
    setObjectName(QStringLiteral("frmMsgOut"));
    setWindowTitle(tr("Send Message"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();

    m_animate->setInterval(120);
    connect(m_animate, &QTimer::timeout, this, [this] {
        m_animateFrame = (m_animateFrame + 1) % 8;
        m_pnlAnimate->setPixmap(Artwork::activity(m_animateFrame));
    });

    connect(m_composer, &MessageComposer::changed, this, &frmMsgOut::render);
    connect(m_composer, &MessageComposer::statusChanged, this, [this](const QString &text) {
        m_status = text;
        render();
    });
    connect(m_composer, &MessageComposer::busyChanged, this, &frmMsgOut::setBusy);
    connect(m_composer, &MessageComposer::invalidAddress, this, &frmMsgOut::informationRequested);
    connect(m_composer, &MessageComposer::finished, this, &QWidget::close);

    connect(m_cmdRefresh, &QPushButton::clicked, m_composer, &MessageComposer::refresh);
    connect(m_chkImage, &QCheckBox::clicked, m_composer, &MessageComposer::setImageChecked);
    connect(m_chkAudio, &QCheckBox::clicked, m_composer, &MessageComposer::setAudioChecked);
    connect(m_cmdRecord, &QPushButton::clicked, m_composer, &MessageComposer::record);
    connect(m_cmdStop, &QPushButton::clicked, m_composer, &MessageComposer::stop);
    connect(m_cmdPlay, &QPushButton::clicked, m_composer, &MessageComposer::play);
    connect(m_cmdSend, &QPushButton::clicked, this, [this] { m_composer->send(m_txtMessageOut->toPlainText()); });
    connect(m_cmdCancel, &QPushButton::clicked, this, &QWidget::close);
    render();
}

void frmMsgOut::buildControls()
{
    m_pnlUserName = valuePanel(this, "pnlUserName");
    m_pnlLocation = valuePanel(this, "pnlLocation");
    auto *head = new QGridLayout;
    head->addWidget(new QLabel(tr("Name:"), this), 0, 0);
    head->addWidget(m_pnlUserName, 0, 1);
    head->addWidget(new QLabel(tr("From:"), this), 1, 0);
    head->addWidget(m_pnlLocation, 1, 1);
    head->setColumnStretch(1, 1);

    m_txtMessageOut = new QPlainTextEdit(this);
    m_txtMessageOut->setObjectName(QStringLiteral("txtMessageOut"));
    m_txtMessageOut->setAccessibleName(tr("Message"));
    m_txtMessageOut->setAccessibleDescription(tr("The text of the quick message; Tab moves on to the picture, the sound and Send"));
    m_txtMessageOut->setTabChangesFocus(true);
    m_txtMessageOut->installEventFilter(this);

    QFrame *thumbPanel = MessageWindowParts::thumbnailPanel(this, &m_imgThumb);
    m_cmdRefresh = button(this, "cmdRefresh", tr("Refresh"));
    m_chkImage = new QCheckBox(tr("Send Picture"), this);
    m_chkImage->setObjectName(QStringLiteral("chkImage"));
    auto *pictureColumn = new QVBoxLayout;
    pictureColumn->addWidget(thumbPanel, 0, Qt::AlignHCenter);
    pictureColumn->addWidget(m_cmdRefresh);
    pictureColumn->addWidget(m_chkImage);
    pictureColumn->addStretch();

    auto *middle = new QHBoxLayout;
    middle->addWidget(m_txtMessageOut, 1);
    middle->addLayout(pictureColumn);

    m_cmdRecord = button(this, "cmdRecord", tr("Record"));
    m_cmdStop = button(this, "cmdStop", tr("Stop"));
    m_cmdPlay = button(this, "cmdPlay", tr("Play"));
    m_pgrAudioRec = new QProgressBar(this);
    m_pgrAudioRec->setObjectName(QStringLiteral("pgrAudioRec"));
    m_pgrAudioRec->setRange(0, MessageComposer::LastRecordIndex);
    m_pgrAudioRec->setTextVisible(false);
    m_chkAudio = new QCheckBox(tr("Send Audio"), this);
    m_chkAudio->setObjectName(QStringLiteral("chkAudio"));
    auto *sound = new QHBoxLayout;
    sound->addWidget(m_cmdRecord);
    sound->addWidget(m_cmdStop);
    sound->addWidget(m_cmdPlay);
    sound->addWidget(m_pgrAudioRec, 1);
    sound->addWidget(m_chkAudio);

    m_cmdSend = button(this, "cmdSend", tr("Send"));
    m_cmdCancel = button(this, "cmdCancel", tr("Cancel"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdSend);
    buttons->addWidget(m_cmdCancel);

    m_barStatus = new QStatusBar(this);
    m_barStatus->setObjectName(QStringLiteral("barStatus"));
    m_barStatus->setSizeGripEnabled(false);
    m_pnlStatus = new QLabel(m_barStatus);
    m_pnlStatus->setObjectName(QStringLiteral("pnlStatus"));
    m_pnlAnimate = new QLabel(m_barStatus);
    m_pnlAnimate->setObjectName(QStringLiteral("pnlAnimate"));
    m_pnlAnimate->setPixmap(Artwork::activity(0));
    m_pnlAnimate->setProperty("running", false);
    m_barStatus->addWidget(m_pnlStatus, 1);
    m_barStatus->addPermanentWidget(m_pnlAnimate);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addLayout(middle, 1);
    layout->addLayout(sound);
    layout->addLayout(buttons);
    layout->addWidget(m_barStatus);
    resize(460, 340);
}

void frmMsgOut::setRecipient(const QString &name, const QString &location, const QString &host, int port)
{
    m_pnlUserName->setText(name);
    m_pnlLocation->setText(location);
    m_composer->setRecipient(host, port);
}

void frmMsgOut::load()
{
    m_composer->load();
    m_txtMessageOut->setFocus();
}

QString frmMsgOut::statusText() const
{
    return m_pnlStatus->text();
}

void frmMsgOut::render()
{
    const MessageComposer &c = *m_composer;
    const QImage thumb = c.thumbnail();
    if (thumb.isNull())
        m_imgThumb->clear();
    else
        m_imgThumb->setPixmap(QPixmap::fromImage(thumb));
    m_cmdRefresh->setEnabled(c.canRefresh());
    {
        const QSignalBlocker a(m_chkImage);
        const QSignalBlocker b(m_chkAudio);
        m_chkImage->setEnabled(c.imageCheckable());
        m_chkImage->setChecked(c.imageChecked());
        m_chkAudio->setEnabled(c.audioCheckable());
        m_chkAudio->setChecked(c.audioChecked());
    }
    const bool audio = c.hasAudioDevice();
    m_cmdRecord->setEnabled(audio);
    m_cmdStop->setEnabled(audio);
    m_cmdPlay->setEnabled(audio);
    m_pgrAudioRec->setValue(std::min(c.recordIndex(), MessageComposer::LastRecordIndex));
    m_cmdSend->setEnabled(!c.sendStarted());
    // Once sending has begun the panel tells how it goes rather than the size.
    m_pnlStatus->setText(c.sendStarted() ? m_status : c.sizeText());
}

void frmMsgOut::setBusy(bool busy)
{
    m_pnlAnimate->setProperty("running", busy);
    if (busy) {
        m_animate->start();
    } else {
        m_animate->stop();
        m_animateFrame = 0;
        m_pnlAnimate->setPixmap(Artwork::activity(0));
    }
}

bool frmMsgOut::eventFilter(QObject *watched, QEvent *event)
{
    // A typed ";" would end the text field early at a receiver that cuts there.
    if (watched == m_txtMessageOut && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->text() == QStringLiteral(";"))
        return true;
    return QWidget::eventFilter(watched, event);
}

void frmMsgOut::closeEvent(QCloseEvent *event)
{
    m_composer->cancel();
    m_composer->sender().close();
    QWidget::closeEvent(event);
}
