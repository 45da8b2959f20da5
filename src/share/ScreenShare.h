#pragma once

#include "share/ScreenStreamModule.h"
#include "share/ScreenTarget.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class CaptureControl;
class PortalScreenCast;

// "Show my screen" during a call. The user asks (request), the desktop's portal shows its
// own picker where there is one, else the windows offer ZELMO's own list of the X
// display's screens and windows (pickerWanted, then choose or cancelChoice). What was
// chosen takes the camera's place as a video source; stopping, the call's end, a shared
// window that closes or the desktop ending its session bring the camera back, without
// touching the call. Nothing is shared but what the user picked.
class ScreenShare : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        CaptureControl &capture;
        std::function<void(const QString &)> logLine;
        // The X display read when there is no portal (empty: none).
        QString x11Display;
        // The session bus the desktop's portal is asked on (not connected: none).
        QDBusConnection bus = QDBusConnection(QString());
        // The call's frame interval: no source gives frames faster.
        int frameIntervalMs = 75;
    };
    static Context fromSystem(CaptureControl &capture, std::function<void(const QString &)> logLine,
                              int frameIntervalMs);

    enum class State { Idle, Choosing, Sharing };

    explicit ScreenShare(Context context, QObject *parent = nullptr);
    ~ScreenShare() override;

    State state() const { return m_state; }
    // Sharing can be asked for: in a call, with a portal or an X display to share from.
    bool canShare() const;
    bool inCall() const { return m_inCall; }
    bool usesPortal() const;
    // What is being shared, as the user chose it.
    QString sharedName() const { return m_sharedName; }

    // The user asks to share: the portal's picker, or pickerWanted with the list.
    void request();
    // The user picked a screen or window of ZELMO's own list.
    void choose(const ScreenTarget &target);
    void cancelChoice();
    // The user stops sharing.
    void stop();
    // Call start and end; the end stops the sharing.
    void setInCall(bool inCall);

signals:
    void stateChanged(ScreenShare::State state);
    // Whether canShare() changed.
    void availabilityChanged(bool canShare);
    // ZELMO's own picker should be shown with these screens and windows.
    void pickerWanted(const QList<ScreenTarget> &targets);
    // Something the user should be told (nothing could be shared, and why).
    void problem(const QString &text);

private:
    void setState(State state);
    void portalStarted(const QDBusUnixFileDescriptor &pipeWire, quint32 node);
    void portalRefused(const QString &why);
    void sharingChanged(bool sharing, const QString &reason);
    void finishSharing();

    Context m_;
    ScreenStreamModule m_streams;
    PortalScreenCast *m_portal;
    State m_state = State::Idle;
    bool m_inCall = false;
    QString m_sharedName;
};
