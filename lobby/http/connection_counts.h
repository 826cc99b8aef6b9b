#pragma once
// The open connections, in all and per client address, held against the limits: what admits
// or refuses a new connection. From any I/O thread.
#include <cstddef>
#include <mutex>
#include <unordered_map>

#include "http/limits.h"
#include "http/peer_address.h"

namespace lobby {

class ConnectionCounts {
public:
    ConnectionCounts(const HttpLimits& limits, HttpCounters& counters)
        : limits_(limits), counters_(counters) {}

    // Counts the connection in, or counts the refusal and gives false.
    bool admit(const AddressKey& key);
    void release(const AddressKey& key);

private:
    struct KeyHash {
        std::size_t operator()(const AddressKey& key) const { return hashOf(key); }
    };

    const HttpLimits& limits_;
    HttpCounters& counters_;
    std::mutex mutex_;
    std::unordered_map<AddressKey, std::size_t, KeyHash> perAddress_;
};

}  // namespace lobby
