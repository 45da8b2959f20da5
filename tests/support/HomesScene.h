#pragma once

#include "support/DirectoryProcess.h"
#include "support/TwoHomes.h"
#include "support/ZelmoProcess.h"

#include <QString>

// One call's world between two homes: the homes of two kinds, the relay and the directory
// server (which hands out the relay's credentials) on the internet machine, and Ann (home
// A) and Bob (home B), each the other's pal, logged in to the pal server. Bob calls Ann by
// her e-mail address through his directory window and she takes the call.
class HomesScene
{
public:
    static constexpr int StartMs = 30000;
    static constexpr int StepMs = 20000;
    // Checks through both routers and, failing those, the relay's allocations.
    static constexpr int ConnectMs = 45000;
    static inline const QString AnnEmail = QStringLiteral("ann@example.org");
    static inline const QString BobEmail = QStringLiteral("bob@example.org");

    // Everything lives in `folder`; the programs come from binDir.
    HomesScene(const QString &folder, const QString &binDir, const QString &tag);
    ~HomesScene();
    HomesScene(const HomesScene &) = delete;
    HomesScene &operator=(const HomesScene &) = delete;

    // Homes of these kinds (Ann's first), the relay, the server and both programs logged
    // in; false with the reason.
    bool start(TwoHomes::Kind ann, TwoHomes::Kind bob, QString *why);
    // Bob presses Enter on Ann's address (opening his directory window and waiting for its
    // list first, as a person does) and she takes the call: both are in it. The time from
    // the Enter in *setUpMs; questions gapMs apart.
    bool call(qint64 *setUpMs, QString *why, int gapMs = 200);
    // Bob hangs up; both leave the call.
    bool hangUp(QString *why, int gapMs = 200);
    // Quits both (they write their logs when they end) and returns their logs' last lines.
    QString quitAndReadLogs(int lines);
    // Quits both cleanly; false with the reason.
    bool quitBoth(QString *why);

    TwoHomes &homes() { return m_homes; }
    DirectoryProcess &directory() { return m_directory; }
    ZelmoProcess ann{QStringLiteral("Ann")};
    ZelmoProcess bob{QStringLiteral("Bob")};
    QString folder() const { return m_folder; }
    QString annProfile() const;
    QString bobProfile() const;

private:
    QString m_folder;
    QString m_binDir;
    TwoHomes m_homes;
    DirectoryProcess m_directory;
};
