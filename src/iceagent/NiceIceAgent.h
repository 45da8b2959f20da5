#pragma once

#include "path/IceAgent.h"

#include <nice/agent.h>

#include <memory>
#include <vector>

// IceAgent on libnice, in the module the program loads when its first path is looked for.
// RFC 5245 with the reliable (pseudo-TCP) transport and consent freshness.
class NiceIceAgent : public IceAgent
{
public:
    NiceIceAgent(const Config &config, Events &events);
    ~NiceIceAgent() override;
    NiceIceAgent(const NiceIceAgent &) = delete;
    NiceIceAgent &operator=(const NiceIceAgent &) = delete;

    // After construction: empty, or why the agent cannot be used.
    const std::string &failure() const { return m_failure; }

    bool gather() override;
    bool localCredentials(std::string &ufrag, std::string &password) override;
    std::vector<Candidate> localCandidates(int component) override;
    RemoteOutcome setRemote(const std::string &ufrag, const std::string &password,
                            const std::vector<std::string> &lines, int &failedComponent) override;
    bool selectedPair(int component, CandidateKind &local, CandidateKind &remote) override;
    Received receive(int component, char *data, std::size_t size) override;
    int send(int component, const char *data, int size) override;
    void watchReadable(int component, bool on) override;
    void closeOutput(int component) override;
    void close(std::function<void()> done) override;

private:
    struct Component
    {
        NiceIceAgent *owner = nullptr;
        int id = 0;
        GIOStream *io = nullptr;
        GSource *readable = nullptr;
    };
    struct Glue;

    Component *component(int id);
    // Nothing more reaches Events; the components' streams and sources go.
    void detach();

    NiceAgent *m_agent = nullptr;
    Events *m_events;
    guint m_stream = 0;
    std::vector<std::unique_ptr<Component>> m_components;
    std::string m_failure;
    bool m_closing = false;
};
