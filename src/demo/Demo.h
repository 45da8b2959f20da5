#pragma once

#include "support/DirectoryProcess.h"
#include "TwoMachines.h"
#include "support/ZelmoProcess.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <deque>

#include <memory>

// The two-party demo: a zelmo-directory and two ZELMOs with test devices, each in its own
// profile under a temporary folder; on two machines made of network namespaces where it
// can (the directory server and Ann on one, Bob on the other), else on this one. Ann finds
// Bob in the directory and calls him, Bob answers; they exchange test-pattern video, sound
// and chat, and a quick message; Ann hangs up and both quit. Every step is done through
// the programs' windows (the test hook) or their command lines, and checked by what the
// programs show, count and log.
class Demo
{
public:
    struct Options
    {
        QString binDir;     // where zelmo and zelmo-directory are
        QString outDir;     // screenshots and logs
        int portBase = 0;   // 0: the programs' own default ports
        bool keepProfiles = false;
        bool twoMachines = false;
    };

    explicit Demo(Options options);
    ~Demo();

    // Runs the demo and prints what happened; 0 when every step happened.
    int run();

private:
    enum class Outcome { Passed, Failed, NotReached };
    struct Step
    {
        QString title;
        Outcome outcome = Outcome::NotReached;
        QStringList details;
    };

    Step &step(const QString &title);
    bool pass(Step &s, const QString &detail = {});
    bool fail(Step &s, const QString &detail);

    bool setUp(QString *error);
    bool startDirectory(Step &s);
    // The relay beside the directory server (coturn's turnserver through zelmo-relay) where
    // turnserver is installed and its port is free; the directory server's options naming it.
    QStringList startRelay(Step &s);
    bool startPeer(ZelmoProcess &peer, TwoMachines::Machine machine, const QString &profile, int port, Step &s);
    // The command line of a program of the build, on that machine when there are two.
    QStringList command(TwoMachines::Machine machine, const QString &program, const QStringList &arguments) const;
    bool listed(Step &s);
    bool call(Step &s);
    bool video(Step &s);
    bool encrypted(Step &s);
    bool sound(Step &s);
    bool talk(ZelmoProcess &talker, ZelmoProcess &listener, Step &s);
    bool chat(Step &s);
    bool quickMessage(Step &s);
    // The writer leaves the reader a quick message through the directory's Send Message;
    // the reader opens it from the main window's message lamp.
    bool leaveMessage(ZelmoProcess &writer, ZelmoProcess &reader, const QString &readerName, const QString &writerName,
                      const QString &note, const QString &shotOut, const QString &shotIn, Step &s);
    bool hangUp(Step &s);
    bool quit(Step &s);

    bool screenshot(ZelmoProcess &peer, const QString &window, const QString &file, Step &s);
    void writeProfile(const QString &folder, const QString &name, const QString &email, const QString &location,
                      const QString &directoryHost, const QString &welcome, int left);
    void report() const;

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_annProfile;
    QString m_bobProfile;
    int m_directoryPort = 2010;
    int m_palPort = 2015;
    int m_annPort = 0;
    int m_bobPort = 0;
    std::unique_ptr<TwoMachines> m_machines;
    DirectoryProcess m_directory;
    DirectoryProcess m_relay;
    ZelmoProcess m_ann{QStringLiteral("Ann")};
    ZelmoProcess m_bob{QStringLiteral("Bob")};
    // A deque keeps each step where it is while later ones are added.
    std::deque<Step> m_steps;
    QStringList m_screenshots;
};
