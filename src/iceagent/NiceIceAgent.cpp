#include "iceagent/NiceIceAgent.h"

#include <algorithm>

// The agent's signals and the components' sources, as plain functions calling the owner's
// Events.
struct NiceIceAgent::Glue
{
    static NiceIceAgent::Component *find(NiceIceAgent *a, guint stream, guint component)
    {
        if (stream != a->m_stream)
            return nullptr;
        return a->component(int(component));
    }

    static void gatheringDone(NiceAgent *, guint stream, gpointer data)
    {
        auto *a = static_cast<NiceIceAgent *>(data);
        if (stream == a->m_stream)
            a->m_events->gatheringDone();
    }

    static void newCandidate(NiceAgent *, NiceCandidate *candidate, gpointer data)
    {
        auto *a = static_cast<NiceIceAgent *>(data);
        if (candidate->type == NICE_CANDIDATE_TYPE_RELAYED && find(a, candidate->stream_id, candidate->component_id))
            a->m_events->relayedCandidate(int(candidate->component_id));
    }

    static void stateChanged(NiceAgent *, guint stream, guint component, guint state, gpointer data)
    {
        auto *a = static_cast<NiceIceAgent *>(data);
        if (!find(a, stream, component))
            return;
        ComponentState mapped = ComponentState::Disconnected;
        switch (NiceComponentState(state)) {
        case NICE_COMPONENT_STATE_GATHERING:
            mapped = ComponentState::Gathering;
            break;
        case NICE_COMPONENT_STATE_CONNECTING:
            mapped = ComponentState::Connecting;
            break;
        case NICE_COMPONENT_STATE_CONNECTED:
            mapped = ComponentState::Connected;
            break;
        case NICE_COMPONENT_STATE_READY:
            mapped = ComponentState::Ready;
            break;
        case NICE_COMPONENT_STATE_FAILED:
            mapped = ComponentState::Failed;
            break;
        default:
            break;
        }
        a->m_events->stateChanged(int(component), mapped);
    }

    static void selectedPair(NiceAgent *, guint, guint, NiceCandidate *, NiceCandidate *, gpointer data)
    {
        static_cast<NiceIceAgent *>(data)->m_events->selectedPair();
    }

    static void writable(NiceAgent *, guint stream, guint component, gpointer data)
    {
        auto *a = static_cast<NiceIceAgent *>(data);
        if (find(a, stream, component))
            a->m_events->writable(int(component));
    }

    static gboolean readable(GObject *, gpointer data)
    {
        // The owner may delete the agent in its handler (the source is destroyed then, and
        // stays valid until this returns): nothing of it is touched afterwards.
        auto *c = static_cast<NiceIceAgent::Component *>(data);
        c->owner->m_events->readable(c->id);
        return G_SOURCE_CONTINUE;
    }

    static void closed(GObject *, GAsyncResult *, gpointer data)
    {
        auto *done = static_cast<std::function<void()> *>(data);
        if (*done)
            (*done)();
        delete done;
    }

    static CandidateKind kind(const NiceCandidate *candidate)
    {
        switch (candidate->type) {
        case NICE_CANDIDATE_TYPE_SERVER_REFLEXIVE:
            return CandidateKind::ServerReflexive;
        case NICE_CANDIDATE_TYPE_PEER_REFLEXIVE:
            return CandidateKind::PeerReflexive;
        case NICE_CANDIDATE_TYPE_RELAYED:
            return CandidateKind::Relayed;
        default:
            return CandidateKind::Host;
        }
    }
};

NiceIceAgent::NiceIceAgent(const Config &config, Events &events)
    : m_events(&events)
{
    m_agent = nice_agent_new_full(g_main_context_default(), NICE_COMPATIBILITY_RFC5245,
                                  NiceAgentOption(NICE_AGENT_OPTION_RELIABLE | NICE_AGENT_OPTION_CONSENT_FRESHNESS));
    // Consent freshness has the agent check the selected pair every few seconds and fail
    // the component when the peer stops answering (libnice: 10 s), so a vanished peer or
    // relay is noticed well within a minute. The program asks the router for ports itself;
    // ICE over TCP would double the candidates for paths UDP already covers.
    g_object_set(m_agent, "controlling-mode", gboolean(config.controlling), "upnp", FALSE, "ice-tcp", FALSE,
                 "force-relay", gboolean(config.relayOnly), nullptr);
    if (!config.relayAddress.empty())
        g_object_set(m_agent, "stun-server", config.relayAddress.c_str(), "stun-server-port", guint(config.relayPort),
                     nullptr);
    for (const std::string &address : config.localAddresses) {
        NiceAddress local;
        nice_address_init(&local);
        if (nice_address_set_from_string(&local, address.c_str()))
            nice_agent_add_local_address(m_agent, &local);
    }
    g_signal_connect(m_agent, "candidate-gathering-done", G_CALLBACK(Glue::gatheringDone), this);
    g_signal_connect(m_agent, "component-state-changed", G_CALLBACK(Glue::stateChanged), this);
    g_signal_connect(m_agent, "new-candidate-full", G_CALLBACK(Glue::newCandidate), this);
    g_signal_connect(m_agent, "new-selected-pair-full", G_CALLBACK(Glue::selectedPair), this);
    g_signal_connect(m_agent, "reliable-transport-writable", G_CALLBACK(Glue::writable), this);

    const int count = std::clamp(config.components, 1, 16);
    m_stream = nice_agent_add_stream(m_agent, guint(count));
    if (m_stream == 0) {
        m_failure = "the ICE agent could not make a stream";
        return;
    }
    for (int id = 1; id <= count; ++id) {
        if (!config.relayAddress.empty()) {
            // libnice speaks TURN over TLS only in other compatibility modes: to a standard
            // relay it would send plain TCP to the TLS port, so the TLS port is not used.
            for (NiceRelayType type : {NICE_RELAY_TYPE_TURN_UDP, NICE_RELAY_TYPE_TURN_TCP})
                nice_agent_set_relay_info(m_agent, m_stream, guint(id), config.relayAddress.c_str(),
                                          guint(config.relayPort), config.relayUser.c_str(),
                                          config.relayPassword.c_str(), type);
        }
        auto c = std::make_unique<Component>();
        c->owner = this;
        c->id = id;
        c->io = nice_agent_get_io_stream(m_agent, m_stream, guint(id));
        m_components.push_back(std::move(c));
    }
}

NiceIceAgent::~NiceIceAgent()
{
    detach();
    if (!m_closing)
        nice_agent_close_async(m_agent, nullptr, nullptr);
    // The closing holds a reference of its own until it ends.
    g_object_unref(m_agent);
}

NiceIceAgent::Component *NiceIceAgent::component(int id)
{
    if (id < 1 || id > int(m_components.size()))
        return nullptr;
    return m_components[std::size_t(id - 1)].get();
}

bool NiceIceAgent::gather()
{
    return nice_agent_gather_candidates(m_agent, m_stream);
}

bool NiceIceAgent::localCredentials(std::string &ufrag, std::string &password)
{
    gchar *u = nullptr;
    gchar *p = nullptr;
    if (!nice_agent_get_local_credentials(m_agent, m_stream, &u, &p))
        return false;
    ufrag = u;
    password = p;
    g_free(u);
    g_free(p);
    return true;
}

std::vector<IceAgent::Candidate> NiceIceAgent::localCandidates(int id)
{
    std::vector<Candidate> lines;
    if (!component(id))
        return lines;
    GSList *candidates = nice_agent_get_local_candidates(m_agent, m_stream, guint(id));
    for (GSList *i = candidates; i; i = i->next) {
        auto *candidate = static_cast<NiceCandidate *>(i->data);
        gchar *sdp = nice_agent_generate_local_candidate_sdp(m_agent, candidate);
        if (sdp)
            lines.push_back({candidate->priority, std::string(sdp)});
        g_free(sdp);
    }
    g_slist_free_full(candidates, reinterpret_cast<GDestroyNotify>(&nice_candidate_free));
    return lines;
}

IceAgent::RemoteOutcome NiceIceAgent::setRemote(const std::string &ufrag, const std::string &password,
                                                const std::vector<std::string> &lines, int &failedComponent)
{
    // Every line is read before anything is handed to the agent, so a description that
    // is refused changes nothing.
    std::vector<GSList *> perComponent(m_components.size(), nullptr);
    auto freeAll = [&perComponent] {
        for (GSList *&list : perComponent) {
            g_slist_free_full(list, reinterpret_cast<GDestroyNotify>(&nice_candidate_free));
            list = nullptr;
        }
    };
    for (const std::string &line : lines) {
        NiceCandidate *candidate = nice_agent_parse_remote_candidate_sdp(m_agent, m_stream, line.c_str());
        if (!candidate || candidate->component_id < 1 || candidate->component_id > m_components.size()) {
            if (candidate)
                nice_candidate_free(candidate);
            freeAll();
            return RemoteOutcome::Refused;
        }
        // ICE over TCP is off here: such candidates are passed over, not held against
        // the description.
        if (candidate->transport != NICE_CANDIDATE_TRANSPORT_UDP) {
            nice_candidate_free(candidate);
            continue;
        }
        GSList *&list = perComponent[candidate->component_id - 1];
        list = g_slist_append(list, candidate);
    }
    for (GSList *list : perComponent) {
        if (!list) {
            freeAll();
            return RemoteOutcome::Refused;
        }
    }
    if (!nice_agent_set_remote_credentials(m_agent, m_stream, ufrag.c_str(), password.c_str())) {
        freeAll();
        return RemoteOutcome::Refused;
    }
    for (std::size_t k = 0; k < perComponent.size(); ++k) {
        if (nice_agent_set_remote_candidates(m_agent, m_stream, guint(k + 1), perComponent[k]) <= 0) {
            freeAll();
            failedComponent = int(k + 1);
            return RemoteOutcome::ComponentRefused;
        }
    }
    freeAll();
    return RemoteOutcome::Taken;
}

bool NiceIceAgent::selectedPair(int id, CandidateKind &local, CandidateKind &remote)
{
    NiceCandidate *l = nullptr;
    NiceCandidate *r = nullptr;
    if (!component(id) || !nice_agent_get_selected_pair(m_agent, m_stream, guint(id), &l, &r))
        return false;
    local = Glue::kind(l);
    remote = Glue::kind(r);
    return true;
}

IceAgent::Received NiceIceAgent::receive(int id, char *data, std::size_t size)
{
    Received got;
    if (!component(id)) {
        got.kind = Received::Kind::Error;
        got.error = "no such component";
        return got;
    }
    GError *error = nullptr;
    const gssize n = nice_agent_recv_nonblocking(m_agent, m_stream, guint(id), reinterpret_cast<guint8 *>(data),
                                                 gsize(size), nullptr, &error);
    if (n > 0) {
        got.kind = Received::Kind::Data;
        got.bytes = std::size_t(n);
    } else if (n == 0) {
        got.kind = Received::Kind::End;
    } else if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK)) {
        got.kind = Received::Kind::WouldBlock;
    } else {
        got.kind = Received::Kind::Error;
        got.error = error ? error->message : "unknown error";
    }
    g_clear_error(&error);
    return got;
}

int NiceIceAgent::send(int id, const char *data, int size)
{
    if (!component(id))
        return -1;
    return nice_agent_send(m_agent, m_stream, guint(id), guint(size), data);
}

void NiceIceAgent::watchReadable(int id, bool on)
{
    Component *c = component(id);
    if (!c)
        return;
    if (on && !c->readable && c->io) {
        c->readable =
            g_pollable_input_stream_create_source(G_POLLABLE_INPUT_STREAM(g_io_stream_get_input_stream(c->io)), nullptr);
        g_source_set_callback(c->readable, G_SOURCE_FUNC(Glue::readable), c, nullptr);
        g_source_attach(c->readable, nullptr);
    } else if (!on && c->readable) {
        g_source_destroy(c->readable);
        g_source_unref(c->readable);
        c->readable = nullptr;
    }
}

void NiceIceAgent::closeOutput(int id)
{
    if (Component *c = component(id); c && c->io)
        g_output_stream_close(g_io_stream_get_output_stream(c->io), nullptr, nullptr);
}

void NiceIceAgent::detach()
{
    g_signal_handlers_disconnect_by_data(m_agent, this);
    for (auto &c : m_components) {
        watchReadable(c->id, false);
        // Closing the component's stream closes its pseudo-TCP, which tells the peer.
        if (c->io)
            g_object_unref(c->io);
        c->io = nullptr;
    }
}

void NiceIceAgent::close(std::function<void()> done)
{
    if (m_closing)
        return;
    detach();
    m_closing = true;
    // The agent lets go of its relay allocations before it goes; the task holds a reference
    // to the agent until then, and `done` is called whether or not this object is still there.
    nice_agent_close_async(m_agent, Glue::closed, new std::function<void()>(std::move(done)));
}

extern "C" __attribute__((visibility("default"))) IceAgent *zelmo_make_ice_agent(int version, const IceAgent::Config &config,
                                                                                IceAgent::Events &events, std::string &why)
{
    if (version != IceAgent::InterfaceVersion) {
        why = "the ICE module was built for interface version " + std::to_string(IceAgent::InterfaceVersion)
              + ", the program asks for " + std::to_string(version);
        return nullptr;
    }
    auto agent = std::make_unique<NiceIceAgent>(config, events);
    if (!agent->failure().empty()) {
        why = agent->failure();
        return nullptr;
    }
    return agent.release();
}
