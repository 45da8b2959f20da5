#include "ui/frmMsgIn.h"

#include "messages/MessageMedia.h"
#include "messages/MessageService.h"
#include "messages/QuickMessageProtocol.h"
#include "secure/SecurityService.h"
#include "ui/MessageWindowParts.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The longest block the viewer plays from; a longer one plays from its start.
constexpr int PlayedBlockBytes = 800;

} // namespace

using MessageWindowParts::button;
using MessageWindowParts::valuePanel;

frmMsgIn::frmMsgIn(MessageService &service, MessageMedia &media, QuickMessage message, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_service(service)
    , m_media(media)
    , m_message(std::move(message))
{
    setObjectName(QStringLiteral("frmMsgIn"));
    setWindowTitle(tr("Incoming Message"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();

    const QImage thumb = m_media.thumbnail(m_message.picture);
    if (!thumb.isNull())
        m_imgThumb->setPixmap(QPixmap::fromImage(thumb));
    const bool sound = !m_message.audioBlocks.isEmpty();
    m_cmdPlay->setEnabled(sound);
    m_pnlPlayMsg->setEnabled(sound);
    m_chkRefuse->setEnabled(MessageService::canRefuse(m_message.senderNumber));
    if (!m_chkRefuse->isEnabled())
        m_chkRefuse->setToolTip(tr("The sender has no user number to refuse."));

    connect(m_cmdPlay, &QPushButton::clicked, this,
            [this] { m_media.playClip(m_message.audioBlocks, PlayedBlockBytes); });
    connect(m_cmdStop, &QPushButton::clicked, this, [this] { m_media.stopClip(); });
    connect(m_cmdReply, &QPushButton::clicked, this, [this] {
        emit replyRequested(m_pnlUserName->text(), m_pnlLocation->text(), m_message.senderHost, SenderPort);
        close();
    });
    connect(m_cmdConnect, &QPushButton::clicked, this, [this] {
        emit connectRequested(m_message.senderHost, SenderPort);
        close();
    });
    connect(m_cmdAddPal, &QPushButton::clicked, this, &frmMsgIn::cmdAddPal_Click);
    connect(m_cmdClose, &QPushButton::clicked, this, &QWidget::close);
}

void frmMsgIn::buildControls()
{
    m_pnlUserName = valuePanel(this, "pnlUserName", m_message.senderName);
    m_pnlLocation = valuePanel(this, "pnlLocation", m_message.senderLocation);
    m_pnlEmail = valuePanel(this, "pnlEmail", m_message.senderEmail);
    m_pnlTime = valuePanel(this, "pnlTime", m_message.sentAt);
    // How the message came: encrypted or not, and from what key.
    QLabel *sent = valuePanel(this, "pnlSecurity",
                              SecurityService::messageText(m_message.security, m_message.senderStanding));
    sent->setToolTip(sent->text());
    auto *head = new QGridLayout;
    const std::pair<const char *, QLabel *> rows[] = {{QT_TR_NOOP("Name:"), m_pnlUserName},
                                                      {QT_TR_NOOP("From:"), m_pnlLocation},
                                                      {QT_TR_NOOP("E-mail:"), m_pnlEmail},
                                                      {QT_TR_NOOP("Time:"), m_pnlTime},
                                                      {QT_TR_NOOP("Sent:"), sent}};
    int row = 0;
    for (const auto &[caption, panel] : rows) {
        head->addWidget(new QLabel(tr(caption), this), row, 0);
        head->addWidget(panel, row++, 1);
    }
    head->setColumnStretch(1, 1);

    QFrame *thumbPanel = MessageWindowParts::thumbnailPanel(this, &m_imgThumb);
    auto *top = new QHBoxLayout;
    top->addLayout(head, 1);
    top->addWidget(thumbPanel, 0, Qt::AlignTop);

    m_txtMessageIn = new QPlainTextEdit(m_message.text, this);
    m_txtMessageIn->setObjectName(QStringLiteral("txtMessageIn"));
    m_txtMessageIn->setReadOnly(true);
    m_txtMessageIn->setAccessibleName(tr("Message"));

    m_pnlPlayMsg = new QGroupBox(tr("Play Audio Message"), this);
    m_pnlPlayMsg->setObjectName(QStringLiteral("pnlPlayMsg"));
    m_cmdPlay = button(m_pnlPlayMsg, "cmdPlay", tr("Play"));
    m_cmdStop = button(m_pnlPlayMsg, "cmdStop", tr("Stop"));
    auto *play = new QHBoxLayout(m_pnlPlayMsg);
    play->addWidget(m_cmdPlay);
    play->addWidget(m_cmdStop);
    play->addStretch();

    m_chkRefuse = new QCheckBox(tr("Refuse Future Messages from this Person"), this);
    m_chkRefuse->setObjectName(QStringLiteral("chkRefuse"));

    m_cmdReply = button(this, "cmdReply", tr("Reply"));
    m_cmdConnect = button(this, "cmdConnect", tr("Connect"));
    m_cmdAddPal = button(this, "cmdAddPal", tr("Add Pal"));
    m_cmdClose = button(this, "cmdClose", tr("Close"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdReply);
    buttons->addWidget(m_cmdConnect);
    buttons->addWidget(m_cmdAddPal);
    buttons->addStretch();
    buttons->addWidget(m_cmdClose);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_txtMessageIn, 1);
    layout->addWidget(m_pnlPlayMsg);
    layout->addWidget(m_chkRefuse);
    layout->addLayout(buttons);
    resize(440, 360);
}

void frmMsgIn::cmdAddPal_Click()
{
    if (m_pnlEmail->text().isEmpty())
        return;
    m_cmdAddPal->setEnabled(false);
    m_cmdClose->setFocus();
    emit addPalRequested(m_pnlEmail->text());
}

void frmMsgIn::closeEvent(QCloseEvent *event)
{
    if (!m_unloaded) {
        m_unloaded = true;
        if (m_chkRefuse->isChecked())
            m_service.refuse(m_message.senderNumber, m_message.senderName, m_message.senderEmail);
    }
    QWidget::closeEvent(event);
}
