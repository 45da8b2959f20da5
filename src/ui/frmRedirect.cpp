#include "ui/frmRedirect.h"

#include "directory/DirectoryService.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

frmRedirect::frmRedirect(DirectoryService &service, const QString &host, int port, const QString &description,
                         QWidget *parent)
    : QDialog(parent)
    , m_service(service)
    , m_pnlAddress(new QLabel(host + QLatin1Char(':') + QString::number(port), this))
    , m_pnlDesc(new QLabel(description, this))
    , m_cmdYes(new QPushButton(tr("Yes"), this))
    , m_cmdNo(new QPushButton(tr("No"), this))
{
    setObjectName(QStringLiteral("frmRedirect"));
    setWindowTitle(tr("Directory Redirect"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    m_pnlAddress->setObjectName(QStringLiteral("pnlAddress"));
    m_pnlDesc->setObjectName(QStringLiteral("pnlDesc"));
    m_cmdYes->setObjectName(QStringLiteral("cmdYes"));
    m_cmdNo->setObjectName(QStringLiteral("cmdNo"));
    for (QLabel *panel : {m_pnlAddress, m_pnlDesc}) {
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setTextFormat(Qt::PlainText);
        panel->setMargin(4);
    }
    m_pnlDesc->setWordWrap(true);

    auto *question = new QLabel(tr("The directory server suggests another directory server. "
                                   "Do you want to move there?"),
                                this);
    question->setWordWrap(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdYes);
    buttons->addWidget(m_cmdNo);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(m_pnlAddress);
    layout->addWidget(m_pnlDesc);
    layout->addLayout(buttons);
    setMinimumWidth(320);

    m_cmdYes->installEventFilter(this);
    m_cmdNo->installEventFilter(this);
    connect(m_cmdYes, &QPushButton::clicked, this, &frmRedirect::cmdYes_Click);
    connect(m_cmdNo, &QPushButton::clicked, this, &QDialog::close);
}

void frmRedirect::cmdYes_Click()
{
    const QString address = m_pnlAddress->text();
    hide();
    m_service.acceptRedirect(address);
    close();
}

bool frmRedirect::eventFilter(QObject *watched, QEvent *event)
{
    // The button under the pointer reads bold.
    if (watched == m_cmdYes || watched == m_cmdNo) {
        if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
            auto *button = static_cast<QPushButton *>(watched);
            QFont f = button->font();
            f.setBold(event->type() == QEvent::Enter);
            button->setFont(f);
        }
    }
    return QDialog::eventFilter(watched, event);
}
