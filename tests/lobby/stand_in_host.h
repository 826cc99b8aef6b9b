#pragma once
// Stand-in DirectPlay 4 hosts for the prober's tests, written from the public protocol: each
// listens on UDP 47624 of its own 127.x.y.z and answers an EnumSessions by connecting over
// TCP to the datagram's source, at the port the request's header names, with one
// EnumSessionsReply. They only ever send to loopback.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct StandInSession {
    std::string name = "Sunday race";
    std::uint32_t players = 3, maxPlayers = 8;
    bool password = false;
};

// The reply a host sends, laid out as MC-DPL4CS 2.2.30 says; its header names gamePort.
std::string enumSessionsReply(const StandInSession& session, std::uint16_t gamePort);

enum class HostBehaviour {
    Answer,
    Silent,
    Late,            // answers once the prober's window is over
    FromElsewhere,   // answers from another loopback address
    Garbage,         // bytes that are no DirectPlay message
    Oversized,       // a reply larger than the prober reads
    GamePortClosed,  // answers, but nothing listens on the game port it names
};

class StandInHosts {
public:
    using Time = std::chrono::steady_clock::time_point;
    explicit StandInHosts(std::chrono::milliseconds late = std::chrono::milliseconds(1000));
    ~StandInHosts();

    // A host on the first free address from `first` (host order) on: other tests may hold some.
    // Returns its index.
    int add(std::uint32_t first);
    std::uint32_t ip(int host) const;
    std::string address(int host) const;  // dotted
    void set(int host, HostBehaviour behaviour, StandInSession session = {});
    std::uint16_t gamePort(int host) const;
    // When each request came, and the last one's bytes.
    std::vector<Time> requests(int host) const;
    std::string lastRequest(int host) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// A random first address for a test's hosts in 127.R.0.0/16, so tests running at once seldom meet.
std::uint32_t randomLoopbackBlock();
