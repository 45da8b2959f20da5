#pragma once

#include <QPointer>
#include <QWidget>

class DirectoryService;
class ServerKeyTrust;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;
class frmNewPal;

// The directory window: who is on line in the global directory, which pals are on line
// and off line, an address box, the directory server choice, and the buttons to call,
// send a message, refresh and keep the pal list. It shows what its service says and
// forwards what the user does.
class frmDirectory : public QWidget
{
    Q_OBJECT

public:
    // The smallest size, in twips.
    static constexpr int MinWidthTwips = 6200;
    static constexpr int MinHeightTwips = 5700;

    frmDirectory(DirectoryService &service, ServerKeyTrust &serverKeys, QWidget *parent = nullptr);

    // The toolbar's way in: the list is asked for again even when it was just fetched.
    void showFromToolbar();
    // Panel 1 to 4 of the status bar.
    QString panelText(int panel) const;
    // The entry or pal number behind a list item ("A0001" is 1), 0 for none.
    static int itemNumber(const QTreeWidgetItem *item);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildControls();
    void connectService();
    void showUserList();
    void showServerList();
    void showPals();
    void showMessageBox(const QString &title, const QString &text);
    void showRedirect(const QString &host, int port, const QString &description);
    void askServerKey(const QString &text);
    int selectedNumber(QTreeWidget *list) const;

    void lstGlobal_Click();
    void lstOnline_Click();
    void lstOffline_Click();
    void txtConnect_Change(const QString &text);
    void cboDirectory_Choose(const QString &text);
    void cmdCall_Click();
    void cmdSendMsg_Click();
    void cmdNewPal_Click();
    void cmdDeletePal_Click();

    DirectoryService &m_service;
    ServerKeyTrust &m_serverKeys;
    QLabel *m_lblGlobal = nullptr;
    QTreeWidget *m_lstGlobal = nullptr;
    QLabel *m_lblPeople = nullptr;
    QSplitter *m_splMain = nullptr;
    QTreeWidget *m_lstOnline = nullptr;
    QTreeWidget *m_lstOffline = nullptr;
    QLabel *m_lblAddress = nullptr;
    QLineEdit *m_txtConnect = nullptr;
    QLineEdit *m_txtConnectID = nullptr;
    QComboBox *m_cboDirectory = nullptr;
    QPushButton *m_cmdCall = nullptr;
    QPushButton *m_cmdSendMsg = nullptr;
    QPushButton *m_cmdRefresh = nullptr;
    QPushButton *m_cmdNewPal = nullptr;
    QPushButton *m_cmdDeletePal = nullptr;
    QPushButton *m_cmdClose = nullptr;
    QStatusBar *m_barStatus = nullptr;
    QLabel *m_panels[4] = {};
    QLabel *m_lblPrivacy = nullptr;
    QPointer<frmNewPal> m_frmNewPal;
    // The column the user sorted by, kept across list refreshes; -1 for server order.
    int m_sortColumn = -1;
};
