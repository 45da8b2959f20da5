#include "ui/ScreenPickerDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

ScreenPickerDialog::ScreenPickerDialog(const QList<ScreenTarget> &targets, QWidget *parent)
    : QDialog(parent)
    , m_targets(targets)
{
    setObjectName(QStringLiteral("frmScreenPicker"));
    setWindowTitle(tr("Share Screen"));

    auto *prompt = new QLabel(tr("Choose what the other side will see instead of your camera:"), this);
    prompt->setObjectName(QStringLiteral("lblPrompt"));
    prompt->setWordWrap(true);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("lstTargets"));
    m_list->setAccessibleName(tr("Screens and windows"));
    prompt->setBuddy(m_list);
    for (const ScreenTarget &target : targets) {
        const QString text = target.kind == ScreenTarget::Kind::Screen
                                 ? tr("Whole screen: %1").arg(target.name)
                                 : tr("Window: %1").arg(target.name);
        m_list->addItem(text);
    }
    m_list->setMinimumWidth(360);

    auto *buttons = new QDialogButtonBox(this);
    m_share = buttons->addButton(tr("Share"), QDialogButtonBox::AcceptRole);
    m_share->setObjectName(QStringLiteral("cmdShare"));
    m_share->setEnabled(false);
    QPushButton *cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Only a row the user selected counts, not the one the list sets current by itself.
    connect(m_list, &QListWidget::itemSelectionChanged, this,
            [this] { m_share->setEnabled(!m_list->selectedItems().isEmpty()); });
    connect(m_list, &QListWidget::itemActivated, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    m_list->setFocus();
}

ScreenTarget ScreenPickerDialog::chosen() const
{
    const QList<QListWidgetItem *> selected = m_list->selectedItems();
    return selected.isEmpty() ? ScreenTarget() : m_targets.value(m_list->row(selected.first()));
}
