#include "core/OptionsLogic.h"
#include "core/RefuseList.h"
#include "core/Settings.h"
#include "support/Windows.h"
#include "media/AudioSendQueue.h"
#include "media/MediaFormatChoice.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>

namespace {

// Settings as a user who filled in the dialog once has them.
Settings filledIn()
{
    Settings s;
    s.Name = QStringLiteral("Ann Callee");
    s.EMail = QStringLiteral("ann@example.org");
    s.Location = QStringLiteral("Oslo");
    s.Comment = QStringLiteral("hello");
    s.DirAddress = QStringLiteral("dir.example.org");
    s.DirPort = 2010;
    return s;
}

// The logic with its settings and spies on what the directory hears.
struct Logic
{
    QTemporaryDir dir;
    Settings settings = filledIn();
    RefuseList refused;
    OptionsLogic logic{settings, refused, dir.filePath(QStringLiteral("refuse.dat"))};
    QSignalSpy login{&logic, &OptionsLogic::loginChanged};
    QSignalSpy server{&logic, &OptionsLogic::directoryServerChanged};
    QSignalSpy information{&logic, &OptionsLogic::informationRequested};

    bool save(const std::function<void(OptionsLogic::Values &)> &edit)
    {
        OptionsLogic::Values v = logic.load();
        edit(v);
        return logic.save(v);
    }
};

// A program with its windows, of the user of filledIn().
struct Running : RunningProgram
{
    Running()
        : RunningProgram(QString(), Options{.windows = true})
    {
        settings() = filledIn();
        main()->show();
    }

    frmOptions *open()
    {
        item("Menu_ViewOptions")->trigger();
        return shell->mainController().optionsWindow();
    }
    template<typename T>
    T *control(const char *name)
    {
        return ::control<T>(shell->mainController().optionsWindow(), name);
    }
    QLineEdit *box(const char *name) { return control<QLineEdit>(name); }
    void ok() { QTest::mouseClick(control<QPushButton>("cmdClose"), Qt::LeftButton); }
    QString information()
    {
        frmMessage *w = windowOf<frmMessage>();
        return w && w->isVisible() ? w->text() : QString();
    }
};

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private slots:
    // Short names and addresses are refused; the separator never reaches the settings.
    void whatIsTypedIsCheckedAndCleanedBeforeItIsKept()
    {
        Logic t;
        // Two letters padded with blanks are two letters.
        QVERIFY(!t.save([](auto &v) { v.name = QStringLiteral("  Al   "); }));
        QCOMPARE(t.information.count(), 1);
        QCOMPARE(t.information.first().first().toString(),
                 QStringLiteral("You must enter a name of at least 3 Characters in length."));
        QCOMPARE(t.settings.Name, QStringLiteral("Ann Callee"));
        QVERIFY(!t.save([](auto &v) { v.email = QStringLiteral(" a@b.cd "); }));
        QCOMPARE(t.information.last().first().toString(),
                 QStringLiteral("You must enter an Email Address of at least 8 Characters in length."));
        QCOMPARE(t.login.count(), 0);
        QVERIFY(t.save([](auto &v) {
            v.name = QStringLiteral("Ali");
            v.email = QStringLiteral("a@bc.def");
        }));
        QCOMPARE(t.settings.Name, QStringLiteral("Ali"));

        QVERIFY(t.save([](auto &v) {
            v.name = QStringLiteral("Ann;RRS;YES;");
            v.welcomeMsg = QStringLiteral("hi;there");
            v.imageMsg = QStringLiteral("a;b");
        }));
        QCOMPARE(t.settings.Name, QStringLiteral("AnnRRSYES"));
        QCOMPARE(t.settings.WelcomeMsg, QStringLiteral("hithere"));
        // The picture message is not sent in a field: it keeps what was typed.
        QCOMPARE(t.settings.ImageMsg, QStringLiteral("a;b"));
    }

    void onlyPersonalChangesAndTheServerAskForANewLogin()
    {
        Logic t;
        // Nothing the directory shows changed: it hears nothing.
        QVERIFY(t.save([](auto &v) {
            v.autoAccept = true;
            v.welcomeMsg = QStringLiteral("Hi there");
            v.saveWinPos = true;
        }));
        QCOMPARE(t.login.count(), 0);
        QCOMPARE(t.server.count(), 0);
        QVERIFY(t.settings.AutoAccept && t.settings.SaveWinPos);
        QCOMPARE(t.settings.WelcomeMsg, QStringLiteral("Hi there"));

        // Only the comment: one new login on the same server.
        QVERIFY(t.save([](auto &v) { v.comment = QStringLiteral("back at five"); }));
        QCOMPARE(t.login.count(), 1);
        QCOMPARE(t.server.count(), 0);
        QCOMPARE(t.settings.Comment, QStringLiteral("back at five"));

        // Publishing switched off is a login change too.
        QVERIFY(t.save([](auto &v) { v.showOnList = false; }));
        QCOMPARE(t.login.count(), 2);

        // A host without a port: port 2010, the old server is left, a login follows.
        t.settings.DirPort = 2099;
        QVERIFY(t.save([](auto &v) { v.dirAddress = QStringLiteral("other.example.org"); }));
        QCOMPARE(t.settings.DirAddress, QStringLiteral("other.example.org"));
        QCOMPARE(t.settings.DirPort, qint16(2010));
        QCOMPARE(t.server.count(), 1);
        QCOMPARE(t.login.count(), 3);

        // Junk after the colon reads its leading number, or 0.
        QVERIFY(t.save([](auto &v) { v.dirAddress = QStringLiteral("other.example.org:2020abc"); }));
        QCOMPARE(t.settings.DirPort, qint16(2020));
        QVERIFY(t.save([](auto &v) { v.dirAddress = QStringLiteral("other.example.org:x"); }));
        QCOMPARE(t.settings.DirPort, qint16(0));
        QCOMPARE(t.server.count(), 3);
        // The same address again changes nothing.
        QVERIFY(t.save([](auto &v) { v.dirAddress = QStringLiteral("other.example.org:0"); }));
        QCOMPARE(t.server.count(), 3);
        QCOMPARE(t.login.count(), 5);
        QCOMPARE(t.logic.load().dirAddress, QStringLiteral("other.example.org:0"));
    }

    void realTimeChatIsLockedWhileAChatConnectionIsOpen()
    {
        Logic t;
        bool chatOpen = true;
        t.logic.setChatConnectionQuery([&] { return chatOpen; });
        QSignalSpy refused(&t.logic, &OptionsLogic::realChatRefused);
        QCOMPARE(t.logic.realChatChanged(false), true);
        QCOMPARE(refused.count(), 1);
        QCOMPARE(refused.first().first().toString(),
                 QStringLiteral("This option cannot be changed while you are in a connection. Please disconnect to "
                                "set this option."));
        chatOpen = false;
        QCOMPARE(t.logic.realChatChanged(false), false);
        QCOMPARE(refused.count(), 1);
    }

    void theDialogShowsTheSettingsInFiveTabs()
    {
        Running r;
        frmOptions *options = r.open();
        QVERIFY(options->isVisible());
        QCOMPARE(options->windowTitle(), QStringLiteral("ZELMO Properties"));
        QTabWidget *tabs = options->tabs();
        QStringList names;
        for (int i = 0; i < tabs->count(); ++i)
            names << tabs->tabText(i);
        QCOMPARE(names, (QStringList{"Personal", "General", "Video", "Audio", "Messaging"}));
        QCOMPARE(r.box("txtName")->text(), QStringLiteral("Ann Callee"));
        QCOMPARE(r.control<QComboBox>("txtDirAddress")->currentText(), QStringLiteral("dir.example.org:2010"));
        QVERIFY(r.control<QCheckBox>("chkShowOnList")->isChecked());
        QVERIFY(r.control<QCheckBox>("chkRealChat")->isChecked());
        QVERIFY(r.control<QRadioButton>("optQualityHigh")->isChecked());
        QVERIFY(r.control<QRadioButton>("optPhoneQ")->isChecked());
        QCOMPARE(r.control<QComboBox>("cboVidDevice")->currentText(), QStringLiteral("Test Pattern"));
        // Every text box is named by its label for assistive technology.
        for (auto [name, label] : {std::pair{"txtName", "Name:"}, std::pair{"txtEmail", "E-Mail:"},
                                   std::pair{"txtLocation", "Location:"}, std::pair{"txtComment", "Comment:"},
                                   std::pair{"txtWelcomeMsg", "Message:"}, std::pair{"txtImageMsg", "Message:"}}) {
            QCOMPARE(said(r.box(name)), QString::fromLatin1(label));
        }

        // The picture message box follows its check box.
        QVERIFY(!r.box("txtImageMsg")->isEnabled());
        r.control<QCheckBox>("chkImageMsg")->click();
        QVERIFY(r.box("txtImageMsg")->isEnabled());
        // The quality choices apply at once, before OK.
        r.control<QRadioButton>("optQualityLow")->click();
        QVERIFY(r.program->settings().VQualityLow);
        r.control<QRadioButton>("optRadioQ")->click();
        QCOMPARE(r->audioControl().quality(), 1);

        // The settings button of the self view opens the Video tab.
        options->hide();
        r.shell->mainController().showOptions(frmOptions::Video);
        QCOMPARE(tabs->currentIndex(), int(frmOptions::Video));
    }

    void typingAndSavingThroughTheDialog()
    {
        Running r;
        frmOptions *options = r.open();
        QSignalSpy login(&r.program->optionsLogic(), &OptionsLogic::loginChanged);
        QSignalSpy server(&r.program->optionsLogic(), &OptionsLogic::directoryServerChanged);

        // ";" typed or pasted never gets into the filtered boxes.
        QLineEdit *location = r.box("txtLocation");
        location->clear();
        QTest::keyClicks(location, QStringLiteral("Ber;gen"));
        QCOMPARE(location->text(), QStringLiteral("Bergen"));
        QCOMPARE(location->cursorPosition(), 6);
        QGuiApplication::clipboard()->setText(QStringLiteral("a;b"));
        location->paste();
        QCOMPARE(location->text(), QStringLiteral("Bergenab"));

        // Too short a name: the message, and the dialog stays.
        QLineEdit *name = r.box("txtName");
        name->setText(QStringLiteral(" Al "));
        r.ok();
        QCOMPARE(r.information(), QStringLiteral("You must enter a name of at least 3 Characters in length."));
        QVERIFY(options->isVisible());
        QCOMPARE(r.program->settings().Name, QStringLiteral("Ann Callee"));
        name->setText(QStringLiteral("Ann Callee"));

        // A directory host without a port; quick messages off.
        r.control<QComboBox>("txtDirAddress")->setEditText(QStringLiteral("dir2.example.org"));
        r.control<QCheckBox>("chkQMDisable")->click();
        QWidget *indicator = control(r.shell->mainWindow(), "imgMsgIn");
        QVERIFY(indicator->isVisible());
        r.ok();
        QVERIFY(!options->isVisible());
        const Settings &s = r.program->settings();
        QCOMPARE(s.Location, QStringLiteral("Bergenab"));
        QCOMPARE(s.DirAddress, QStringLiteral("dir2.example.org"));
        QCOMPARE(s.DirPort, qint16(2010));
        QVERIFY(s.Disable);
        QVERIFY(!indicator->isVisible());
        QCOMPARE(server.count(), 1);
        QCOMPARE(login.count(), 1);

        // Cancel leaves everything as it was, and the next opening shows the settings again.
        r.open();
        QCOMPARE(r.control<QComboBox>("txtDirAddress")->currentText(), QStringLiteral("dir2.example.org:2010"));
        r.box("txtComment")->setText(QStringLiteral("not kept"));
        QTest::keyClick(options, Qt::Key_Escape);
        QVERIFY(!options->isVisible());
        QCOMPARE(s.Comment, QStringLiteral("hello"));
        QCOMPARE(login.count(), 1);
    }

    void closingTheDialogEndsTheSoundTest()
    {
        Running r;
        frmOptions *options = r.open();
        AudioSendQueue &queue = r.program->parts().audioSendQueue;
        queue.setHold(true);
        queue.record(QByteArray(33, 'x'));
        queue.record(QByteArray(33, 'y'));
        QCOMPARE(queue.audioRecordIndex(), 3);
        r.ok();
        QVERIFY(!options->isVisible());
        QCOMPARE(queue.audioRecordIndex(), 1);
        QCOMPARE(queue.audioSendIndex(), 1);
        QVERIFY(!queue.hold());

        // The same when the dialog is cancelled.
        r.open();
        queue.setHold(true);
        queue.record(QByteArray(33, 'z'));
        options->reject();
        QCOMPARE(queue.audioRecordIndex(), 1);
        QVERIFY(!queue.hold());
    }

    void aFormatChoiceThatCannotBeWrittenSaysSo()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("formats.ini")));
        MediaFormatChoice formats(dir.filePath(QStringLiteral("formats.ini")));
        QSignalSpy failed(&formats, &MediaFormatChoice::saveFailed);
        formats.setPublishedOnly(true);
        QCOMPARE(failed.count(), 1);
        // The choice holds for this run all the same.
        QVERIFY(formats.publishedOnly());
    }

    void refusedSendersAreListedAndRemoved()
    {
        Running r;
        const QString path = r.program->profilePath(QStringLiteral("refuse.dat"));
        RefuseList &list = r->parts().refuseList;
        QVERIFY(!list.add(path, 7, QStringLiteral("Spammer"), QStringLiteral("spam@example.org")));
        QVERIFY(!list.add(path, 9, QStringLiteral("Pest"), QStringLiteral("pest@example.org")));
        r.open();
        auto *rows = r.control<QTreeWidget>("lstRefuse");
        QCOMPARE(rows->topLevelItemCount(), 2);
        QCOMPARE(rows->topLevelItem(1)->text(0), QStringLiteral("Pest"));
        QCOMPARE(rows->topLevelItem(1)->text(1), QStringLiteral("pest@example.org"));
        auto *remove = r.control<QPushButton>("cmdRemoveRefuse");
        QVERIFY(!remove->isEnabled());
        rows->setCurrentItem(rows->topLevelItem(0));
        QVERIFY(remove->isEnabled());
        remove->click();
        QCOMPARE(rows->topLevelItemCount(), 1);
        QCOMPARE(rows->topLevelItem(0)->text(0), QStringLiteral("Pest"));
        // The file is rewritten at once.
        RefuseList reread;
        reread.load(path);
        QCOMPARE(reread.count(), 1);
        QCOMPARE(reread.entry(1).name, QStringLiteral("Pest"));
    }
};

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
