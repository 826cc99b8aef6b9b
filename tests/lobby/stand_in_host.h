#pragma once
// Stand-in DirectPlay 4 hosts for the prober's tests, from the public protocol: each listens on
// UDP 47624 of its own 127.x.y.z and answers an EnumSessions by connecting over TCP to the
// datagram's source (loopback only) at the port its header names, with one EnumSessionsReply.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct StandInSession {
    std::string name = "Sunday race";  // ASCII
    std::uint32_t players = 3, maxPlayers = 8;
    bool password = false;
};

// Laid out as MC-DPL4CS 2.2.30 and 2.2.5 say; its header names gamePort.
std::string enumSessionsReply(const StandInSession& session, std::uint16_t gamePort);

// Late: once the prober's window is over; FromElsewhere: from another loopback address.
enum class HostBehaviour { Answer, Silent, Late, FromElsewhere, Garbage, Oversized, GamePortClosed };

class StandInHosts {
public:
    using Time = std::chrono::steady_clock::time_point;
    explicit StandInHosts(std::chrono::milliseconds late = std::chrono::seconds(1));
    ~StandInHosts();
    // A host on the first free address from `first` on (other tests hold some); its index.
    int add(std::uint32_t first);
    std::uint32_t ip(int host) const;
    std::uint16_t gamePort(int host) const;
    void set(int host, HostBehaviour behaviour, StandInSession session = {});
    std::vector<Time> requests(int host) const;  // when each came
    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The first address of a random 127.R.0.0/16, so tests running at once seldom meet.
std::uint32_t randomLoopbackBlock();
