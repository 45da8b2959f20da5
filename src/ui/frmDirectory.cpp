#include "ui/frmDirectory.h"

#include "core/PalList.h"
#include "core/Twips.h"
#include "directory/DirectoryService.h"
#include "directory/ServerKeyTrust.h"
#include "ui/DirectoryIcons.h"
#include "ui/frmNewPal.h"
#include "ui/frmRedirect.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace Proto = DirectoryProtocol;

namespace {

QString itemKey(int number)
{
    return QStringLiteral("A%1").arg(number, 4, 10, QLatin1Char('0'));
}

QTreeWidget *makeList(QWidget *parent, const char *name, const QStringList &columns)
{
    auto *list = new QTreeWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setColumnCount(int(columns.size()));
    list->setHeaderLabels(columns);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setAllColumnsShowFocus(true);
    return list;
}

} // namespace

frmDirectory::frmDirectory(DirectoryService &service, ServerKeyTrust &serverKeys, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_service(service)
    , m_serverKeys(serverKeys)
{
    setObjectName(QStringLiteral("frmDirectory"));
    setWindowTitle(tr("ZELMO Directory"));
    setMinimumSize(Twips::toPixels(MinWidthTwips), Twips::toPixels(MinHeightTwips));
    buildControls();
    connectService();
    m_cboDirectory->setEditText(m_service.directoryText());
}

void frmDirectory::buildControls()
{
    m_lblGlobal = new QLabel(tr("Global Directory"), this);
    m_lblGlobal->setObjectName(QStringLiteral("lblGlobal"));
    m_lstGlobal = makeList(this, "lstGlobal", {tr("Name"), tr("Location"), tr("Comment"), tr("Key")});
    m_lstGlobal->header()->setSectionsClickable(true);
    m_lstGlobal->header()->setSortIndicatorShown(false);
    m_lstGlobal->setColumnWidth(0, 150);
    m_lstGlobal->setColumnWidth(1, 120);
    m_lblGlobal->setBuddy(m_lstGlobal);

    m_lblPeople = new QLabel(tr("People Watch Pals"), this);
    m_lblPeople->setObjectName(QStringLiteral("lblPeople"));
    m_splMain = new QSplitter(Qt::Horizontal, this);
    m_splMain->setObjectName(QStringLiteral("splMain"));
    m_lstOnline = makeList(m_splMain, "lstOnline", {tr("Online")});
    m_lstOffline = makeList(m_splMain, "lstOffline", {tr("Offline")});
    m_splMain->addWidget(m_lstOnline);
    m_splMain->addWidget(m_lstOffline);
    m_splMain->setChildrenCollapsible(false);
    m_lstGlobal->setAccessibleName(tr("Global directory"));
    m_lstGlobal->setAccessibleDescription(tr("Type a name to find a user; Enter calls the user"));
    m_lstOnline->setAccessibleName(tr("Pals on line"));
    m_lstOnline->setAccessibleDescription(tr("Enter calls the pal"));
    m_lstOffline->setAccessibleName(tr("Pals off line"));

    m_lblAddress = new QLabel(tr("Email or IP Address:"), this);
    m_lblAddress->setObjectName(QStringLiteral("lblAddress"));
    m_txtConnect = new QLineEdit(this);
    m_txtConnect->setObjectName(QStringLiteral("txtConnect"));
    m_txtConnect->setMaxLength(200);
    m_lblAddress->setBuddy(m_txtConnect);
    // Holds the address that Call dials: typed, or the picked user's.
    m_txtConnectID = new QLineEdit(this);
    m_txtConnectID->setObjectName(QStringLiteral("txtConnectID"));
    m_txtConnectID->hide();

    auto *lblDirectory = new QLabel(tr("Directory Server:"), this);
    m_cboDirectory = new QComboBox(this);
    m_cboDirectory->setObjectName(QStringLiteral("cboDirectory"));
    m_cboDirectory->setEditable(true);
    m_cboDirectory->setInsertPolicy(QComboBox::NoInsert);
    // A typed host that begins like a listed server must not turn into that server.
    m_cboDirectory->setCompleter(nullptr);
    m_cboDirectory->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_cboDirectory->setMinimumContentsLength(18);
    lblDirectory->setBuddy(m_cboDirectory);

    const auto button = [this](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    m_cmdCall = button("cmdCall", tr("Call"));
    m_cmdSendMsg = button("cmdSendMsg", tr("Send Message"));
    m_cmdRefresh = button("cmdRefresh", tr("Refresh"));
    m_cmdNewPal = button("cmdNewPal", tr("New Pal"));
    m_cmdDeletePal = button("cmdDeletePal", tr("Delete Pal"));
    m_cmdClose = button("cmdClose", tr("Close"));
    m_cmdCall->setEnabled(false);
    m_cmdSendMsg->setEnabled(false);

    m_barStatus = new QStatusBar(this);
    m_barStatus->setObjectName(QStringLiteral("barStatus"));
    m_barStatus->setSizeGripEnabled(true);
    for (int i = 0; i < 4; ++i) {
        m_panels[i] = new QLabel(this);
        m_panels[i]->setObjectName(QStringLiteral("barStatusPanel%1").arg(i + 1));
        m_panels[i]->setTextFormat(Qt::PlainText);
    }
    m_panels[0]->setPixmap(DirectoryIcons::icon(1).pixmap(16, 16));
    m_barStatus->addWidget(m_panels[0]);
    m_barStatus->addWidget(m_panels[1], 1);
    m_barStatus->addPermanentWidget(m_panels[2]);
    m_barStatus->addPermanentWidget(m_panels[3]);
    // Whether what this window sends (the user's e-mail and name, lookups) is encrypted.
    m_lblPrivacy = new QLabel(this);
    m_lblPrivacy->setObjectName(QStringLiteral("lblPrivacy"));
    m_lblPrivacy->setTextFormat(Qt::PlainText);
    m_barStatus->addPermanentWidget(m_lblPrivacy);

    auto *lists = new QVBoxLayout;
    lists->addWidget(m_lblGlobal);
    lists->addWidget(m_lstGlobal, 3);
    lists->addWidget(m_lblPeople);
    lists->addWidget(m_splMain, 2);

    auto *buttons = new QVBoxLayout;
    for (QPushButton *b : {m_cmdCall, m_cmdSendMsg, m_cmdRefresh})
        buttons->addWidget(b);
    buttons->addSpacing(12);
    buttons->addWidget(m_cmdNewPal);
    buttons->addWidget(m_cmdDeletePal);
    buttons->addStretch();
    buttons->addWidget(m_cmdClose);

    auto *top = new QHBoxLayout;
    top->addLayout(lists, 1);
    top->addLayout(buttons);

    auto *boxes = new QGridLayout;
    boxes->addWidget(m_lblAddress, 0, 0);
    boxes->addWidget(m_txtConnect, 0, 1);
    boxes->addWidget(lblDirectory, 1, 0);
    boxes->addWidget(m_cboDirectory, 1, 1);
    boxes->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->addLayout(top, 1);
    layout->addLayout(boxes);
    layout->addWidget(m_barStatus);
    layout->addWidget(m_txtConnectID);

    // Tab follows the reading order: the lists, the buttons beside them, the boxes below.
    QWidget *previous = m_lstGlobal;
    for (QWidget *next : std::initializer_list<QWidget *>{m_lstOnline, m_lstOffline, m_cmdCall, m_cmdSendMsg, m_cmdRefresh,
                                                          m_cmdNewPal, m_cmdDeletePal, m_cmdClose, m_txtConnect,
                                                          m_cboDirectory}) {
        setTabOrder(previous, next);
        previous = next;
    }
}

void frmDirectory::connectService()
{
    DirectoryService *s = &m_service;
    connect(s, &DirectoryService::statusChanged, m_panels[1], &QLabel::setText);
    connect(s, &DirectoryService::countsChanged, this, [this](const QString &online, const QString &listed) {
        m_panels[2]->setText(online);
        m_panels[3]->setText(listed);
    });
    connect(s, &DirectoryService::userListChanged, this, &frmDirectory::showUserList);
    connect(s, &DirectoryService::serverListChanged, this, &frmDirectory::showServerList);
    connect(s, &DirectoryService::palsChanged, this, &frmDirectory::showPals);
    connect(s, &DirectoryService::directoryTextChanged, m_cboDirectory, &QComboBox::setEditText);
    connect(s, &DirectoryService::messageBoxRequested, this, &frmDirectory::showMessageBox);
    connect(s, &DirectoryService::redirectOffered, this, &frmDirectory::showRedirect);
    connect(&m_serverKeys, &ServerKeyTrust::question, this, &frmDirectory::askServerKey);
    connect(s, &DirectoryService::privacyChanged, this, [this](bool encrypted) {
        m_lblPrivacy->setText(encrypted ? tr("Private") : tr("Not private"));
        m_lblPrivacy->setToolTip(encrypted ? tr("The connection to the directory server is encrypted")
                                           : tr("This directory server does not encrypt: your e-mail address and "
                                                "name travel in clear text"));
    });

    connect(m_lstGlobal, &QTreeWidget::itemSelectionChanged, this, &frmDirectory::lstGlobal_Click);
    connect(m_lstOnline, &QTreeWidget::itemSelectionChanged, this, &frmDirectory::lstOnline_Click);
    connect(m_lstOffline, &QTreeWidget::itemSelectionChanged, this, &frmDirectory::lstOffline_Click);
    connect(m_lstGlobal->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        m_sortColumn = column;
        m_lstGlobal->header()->setSortIndicatorShown(true);
        m_lstGlobal->sortItems(column, Qt::AscendingOrder);
    });
    // A double click or Enter on a user calls.
    connect(m_lstGlobal, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem *item) { m_service.callEntry(itemNumber(item)); });
    connect(m_lstOnline, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem *item) { m_service.callPal(itemNumber(item)); });

    connect(m_txtConnect, &QLineEdit::textEdited, this, &frmDirectory::txtConnect_Change);
    connect(m_txtConnectID, &QLineEdit::textChanged, this, [this] { m_cmdCall->setEnabled(true); });
    connect(m_txtConnect, &QLineEdit::returnPressed, this, [this] {
        if (!m_txtConnectID->text().isEmpty())
            cmdCall_Click();
    });
    connect(m_cboDirectory, &QComboBox::activated, this,
            [this](int index) { cboDirectory_Choose(m_cboDirectory->itemText(index)); });
    connect(m_cboDirectory->lineEdit(), &QLineEdit::returnPressed, this, [this] {
        // A text equal to an item comes as that item's activation instead.
        const QString text = m_cboDirectory->currentText();
        if (m_cboDirectory->findText(text) < 0)
            cboDirectory_Choose(text);
    });

    connect(m_cmdCall, &QPushButton::clicked, this, &frmDirectory::cmdCall_Click);
    connect(m_cmdSendMsg, &QPushButton::clicked, this, &frmDirectory::cmdSendMsg_Click);
    connect(m_cmdRefresh, &QPushButton::clicked, s, &DirectoryService::refresh);
    connect(m_cmdNewPal, &QPushButton::clicked, this, &frmDirectory::cmdNewPal_Click);
    connect(m_cmdDeletePal, &QPushButton::clicked, this, &frmDirectory::cmdDeletePal_Click);
    connect(m_cmdClose, &QPushButton::clicked, this, &QWidget::hide);
}

void frmDirectory::showFromToolbar()
{
    m_service.requestRefreshOnShow();
    if (isVisible())
        m_service.windowActivated();
    show();
    raise();
    activateWindow();
}

QString frmDirectory::panelText(int panel) const
{
    return panel >= 1 && panel <= 4 ? m_panels[panel - 1]->text() : QString();
}

int frmDirectory::itemNumber(const QTreeWidgetItem *item)
{
    if (!item)
        return 0;
    const QString key = item->data(0, Qt::UserRole).toString();
    return key.right(4).toInt();
}

int frmDirectory::selectedNumber(QTreeWidget *list) const
{
    const QList<QTreeWidgetItem *> selected = list->selectedItems();
    return selected.isEmpty() ? 0 : itemNumber(selected.first());
}

void frmDirectory::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_service.setWindowVisible(true);
    // Without a window manager a shown window may never be told it became active.
    m_service.windowActivated();
}

void frmDirectory::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_service.setWindowVisible(false);
}

void frmDirectory::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        m_service.windowActivated();
}

void frmDirectory::showUserList()
{
    m_lstGlobal->clear();
    const QVector<Proto::UserEntry> &entries = m_service.entries();
    QList<QTreeWidgetItem *> items;
    items.reserve(entries.size());
    for (int k = 1; k <= entries.size(); ++k) {
        const Proto::UserEntry &e = entries.at(k - 1);
        auto *item = new QTreeWidgetItem(QStringList{e.Name, e.Location, e.Comment});
        item->setData(0, Qt::UserRole, itemKey(k));
        // Pointing at a user shows where the server says they are.
        const QString where = DirectoryService::addressText(e.Address, e.Port);
        for (int column = 0; column < 3; ++column)
            item->setToolTip(column, where);
        item->setIcon(0, DirectoryIcons::icon(DirectoryService::iconNumber(e)));
        if (e.Keyed) {
            // The server vouches that this number and e-mail address belong to the key
            // that logged in with them: nobody else can stand in this entry.
            item->setText(3, tr("Verified"));
            item->setData(3, Qt::AccessibleTextRole, tr("Key verified"));
            item->setToolTip(3, tr("Key verified: this user's number and e-mail address belong to the key they "
                                   "logged in with"));
        }
        items.append(item);
    }
    m_lstGlobal->addTopLevelItems(items);
    if (m_sortColumn >= 0)
        m_lstGlobal->sortItems(m_sortColumn, Qt::AscendingOrder);
    m_lstGlobal->clearSelection();
    m_lstGlobal->setCurrentItem(nullptr);
}

void frmDirectory::showServerList()
{
    // The text the user has in the box stays.
    const QString text = m_cboDirectory->currentText();
    m_cboDirectory->clear();
    for (const Proto::ServerEntry &server : m_service.servers())
        m_cboDirectory->addItem(DirectoryService::serverItemText(server));
    m_cboDirectory->setEditText(text);
}

void frmDirectory::showPals()
{
    m_lstOnline->clear();
    m_lstOffline->clear();
    const PalList &pals = m_service.pals();
    for (int k = 1; k <= pals.count(); ++k) {
        const PalList::Pal &pal = pals.pal(k);
        auto *item = new QTreeWidgetItem(QStringList{pal.Name});
        item->setData(0, Qt::UserRole, itemKey(k));
        if (pal.Status == 2)
            item->setToolTip(0, DirectoryService::addressText(pal.Address, int(quint16(pal.Port))));
        (pal.Status == 2 ? m_lstOnline : m_lstOffline)->addTopLevelItem(item);
    }
}

void frmDirectory::showMessageBox(const QString &title, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("MessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void frmDirectory::askServerKey(const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Directory Server Key"),
                                text + QStringLiteral("\n\n") + tr("Accept the new key?"),
                                QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("ServerKeyBox"));
    box->setDefaultButton(QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    connect(box, &QMessageBox::finished, this, [this, box] {
        m_serverKeys.answer(box->clickedButton() == box->button(QMessageBox::Yes));
    });
    box->show();
}

void frmDirectory::showRedirect(const QString &host, int port, const QString &description)
{
    auto *prompt = new frmRedirect(m_service, host, port, description, this);
    prompt->show();
    prompt->raise();
}

void frmDirectory::lstGlobal_Click()
{
    const int k = selectedNumber(m_lstGlobal);
    if (k == 0)
        return;
    m_lstOnline->clearSelection();
    m_cmdSendMsg->setEnabled(true);
    m_cmdCall->setEnabled(true);
    if (const Proto::UserEntry *e = m_service.entry(k))
        m_txtConnectID->setText(e->Address);
}

void frmDirectory::lstOnline_Click()
{
    const int k = selectedNumber(m_lstOnline);
    if (k == 0)
        return;
    m_lstGlobal->clearSelection();
    m_lstOffline->clearSelection();
    m_cmdSendMsg->setEnabled(true);
    m_cmdCall->setEnabled(true);
    if (k <= m_service.pals().count())
        m_txtConnectID->setText(m_service.pals().pal(k).Address);
}

void frmDirectory::lstOffline_Click()
{
    if (selectedNumber(m_lstOffline) != 0)
        m_lstOnline->clearSelection();
}

void frmDirectory::txtConnect_Change(const QString &text)
{
    m_lstGlobal->clearSelection();
    m_lstOnline->clearSelection();
    m_txtConnectID->setText(text);
    m_cmdCall->setEnabled(true);
}

void frmDirectory::cboDirectory_Choose(const QString &text)
{
    m_service.chooseDirectory(text);
}

void frmDirectory::cmdCall_Click()
{
    m_service.call(m_txtConnectID->text(), selectedNumber(m_lstGlobal), selectedNumber(m_lstOnline));
}

void frmDirectory::cmdSendMsg_Click()
{
    m_service.sendMessage(selectedNumber(m_lstGlobal), selectedNumber(m_lstOnline));
}

void frmDirectory::cmdNewPal_Click()
{
    if (!m_frmNewPal)
        m_frmNewPal = new frmNewPal(m_service, this);
    m_frmNewPal->show();
    m_frmNewPal->raise();
    m_frmNewPal->activateWindow();
}

void frmDirectory::cmdDeletePal_Click()
{
    int k = selectedNumber(m_lstOffline);
    if (k == 0)
        k = selectedNumber(m_lstOnline);
    if (k != 0)
        m_service.removePal(k);
}
