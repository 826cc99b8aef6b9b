#include "http/connection_counts.h"

namespace lobby {

bool ConnectionCounts::admit(const AddressKey& key) {
    if (counters_.open.load() >= limits_.maxConnections) {
        ++counters_.refusedTotal;
        return false;
    }
    bool capped = true;
    for (const AddressKey& k : limits_.uncapped) capped = capped && !(k == key);
    std::lock_guard lock(mutex_);
    std::size_t& count = perAddress_[key];
    if (capped && count >= limits_.maxPerAddress) {
        if (count == 0) perAddress_.erase(key);
        ++counters_.refusedPerAddress;
        return false;
    }
    ++count;
    ++counters_.open;
    return true;
}

void ConnectionCounts::release(const AddressKey& key) {
    std::lock_guard lock(mutex_);
    auto it = perAddress_.find(key);
    if (it != perAddress_.end() && --it->second == 0) perAddress_.erase(it);
    --counters_.open;
}

}  // namespace lobby
