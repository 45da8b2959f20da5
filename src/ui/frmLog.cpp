#include "ui/frmLog.h"

#include "core/ActivityLog.h"
#include "core/Twips.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

frmLog::frmLog(ActivityLog &log, QWidget *parent)
    : SatelliteWindow(parent)
    , m_log(log)
{
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(tr("Activity Log"));
    setMinimumSize(Twips::toPixels(2000), Twips::toPixels(2000));
    resize(520, 320);

    auto *frame = new QGroupBox(tr("Activity"), this);
    frame->setObjectName(QStringLiteral("fraActivity"));
    m_list = new QListWidget(frame);
    m_list->setObjectName(QStringLiteral("lstActivity"));
    m_list->setAccessibleName(tr("Activity log"));
    m_list->setUniformItemSizes(true);
    auto *frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(m_list);

    auto *clear = new QPushButton(tr("Clear"), this);
    clear->setObjectName(QStringLiteral("cmdClear"));
    auto *close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("cmdClose"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(clear);
    buttons->addStretch();
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(frame, 1);
    layout->addLayout(buttons);

    m_confirm = [this](const QString &question) {
        return QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No)
               == QMessageBox::Yes;
    };

    connect(clear, &QPushButton::clicked, this, [this] {
        if (m_confirm(tr("Are you sure you want to clear the Activity log?")))
            m_log.clear();
    });
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    connect(&m_log, &ActivityLog::lineAdded, this, [this](const QString &line) {
        const bool atEnd = m_list->currentRow() < 0 || m_list->currentRow() == m_list->count() - 1;
        m_list->addItem(line);
        if (atEnd)
            m_list->scrollToBottom();
    });
    connect(&m_log, &ActivityLog::oldestDropped, this, [this](int count) {
        for (int i = 0; i < count && m_list->count() > 0; ++i)
            delete m_list->takeItem(0);
    });
    connect(&m_log, &ActivityLog::reset, this, &frmLog::reload);
    reload();
}

void frmLog::setConfirm(std::function<bool(const QString &)> confirm)
{
    m_confirm = std::move(confirm);
}

void frmLog::reload()
{
    m_list->clear();
    m_list->addItems(m_log.lines());
    m_list->scrollToBottom();
}
