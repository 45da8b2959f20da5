#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One ICE agent with one stream of reliable (pseudo-TCP) components: what IceSession asks
// of the ICE library. The library and the many it pulls in (GIO, GUPnP, HTTP) are loaded
// only when the first agent is made, from a module of its own (see IceModule), so this
// interface is plain C++ with neither Qt's nor GLib's types: the module and the program are
// built apart and share nothing else. Everything runs on GLib's default main context, which
// is the main thread's Qt loop.
class IceAgent
{
public:
    // Raised whenever the interface below changes: a module built against another version is
    // not used.
    static constexpr int InterfaceVersion = 1;

    enum class ComponentState { Disconnected, Gathering, Connecting, Connected, Ready, Failed };
    enum class CandidateKind { Host, ServerReflexive, PeerReflexive, Relayed };

    // What the agent tells its owner, on the loop. Only readable() may be followed by the
    // owner deleting the agent or handing it to close(); the others only note what happened.
    class Events
    {
    public:
        virtual void gatheringDone() = 0;
        virtual void relayedCandidate(int component) = 0;
        virtual void stateChanged(int component, ComponentState state) = 0;
        virtual void selectedPair() = 0;
        // The component's pseudo-TCP takes more.
        virtual void writable(int component) = 0;
        // Something came in on a component watched with watchReadable().
        virtual void readable(int component) = 0;

    protected:
        ~Events() = default;
    };

    struct Config
    {
        bool controlling = false;
        // Offer and use only relayed candidates.
        bool relayOnly = false;
        int components = 1;
        // The relay (TURN over UDP and over TCP), also the STUN server; none when empty.
        std::string relayAddress;
        int relayPort = 0;
        std::string relayUser;
        std::string relayPassword;
        // Where host candidates are gathered; every address but loopback when empty.
        std::vector<std::string> localAddresses;
    };

    struct Candidate
    {
        std::uint32_t priority = 0;
        // Its SDP line, as the peer's agent reads it.
        std::string line;
    };

    enum class RemoteOutcome {
        // Checks begin.
        Taken,
        // A line the agent cannot read, a component it does not have, a component left
        // without a (UDP) candidate, or refused credentials: nothing was changed.
        Refused,
        // The agent took none of a component's candidates; failedComponent names it.
        ComponentRefused
    };

    struct Received
    {
        enum class Kind { Data, End, WouldBlock, Error } kind = Kind::WouldBlock;
        std::size_t bytes = 0;
        std::string error;
    };

    virtual ~IceAgent() = default;

    // Starts gathering on every component; false when there is no address to gather on.
    virtual bool gather() = 0;
    virtual bool localCredentials(std::string &ufrag, std::string &password) = 0;
    virtual std::vector<Candidate> localCandidates(int component) = 0;
    virtual RemoteOutcome setRemote(const std::string &ufrag, const std::string &password,
                                    const std::vector<std::string> &lines, int &failedComponent) = 0;
    virtual bool selectedPair(int component, CandidateKind &local, CandidateKind &remote) = 0;

    virtual Received receive(int component, char *data, std::size_t size) = 0;
    // Bytes the pseudo-TCP took (fewer than offered: its send buffer is full).
    virtual int send(int component, const char *data, int size) = 0;
    virtual void watchReadable(int component, bool on) = 0;
    // Ends this side's direction of the component's pseudo-TCP.
    virtual void closeOutput(int component) = 0;

    // Tells nothing more to Events, lets go of the relay's allocations and calls `done` on
    // the loop once the relay has been told, even after this object has been deleted (which
    // may be at once). Without close(), deleting the agent closes it with nobody waiting.
    virtual void close(std::function<void()> done) = 0;
};

// The one symbol the module exports: makes an agent, or returns null with the reason.
// `version` must equal IceAgent::InterfaceVersion.
using IceAgentMaker = IceAgent *(*)(int version, const IceAgent::Config &config, IceAgent::Events &events,
                                    std::string &why);
inline constexpr char IceAgentMakerName[] = "zelmo_make_ice_agent";
