#pragma once
// Which addresses the prober may ask: none of the special-purpose IPv4 ranges (loopback,
// private, shared, link-local, multicast, documentation, reserved) unless allowed.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace lobby {

struct Cidr {
    std::uint32_t base = 0;  // host order, host bits zero
    int bits = 32;
    bool contains(std::uint32_t ip) const {
        return bits == 0 || (ip >> (32 - bits)) == (base >> (32 - bits));
    }
};

// "A.B.C.D/N" or "A.B.C.D"; nullopt if host bits are set, so a typo is not read as a range.
std::optional<Cidr> parseCidr(std::string_view text);

bool isSpecialPurpose(std::uint32_t ip);

inline bool mayProbe(std::uint32_t ip, const std::vector<Cidr>& allowed) {
    if (!isSpecialPurpose(ip)) return true;
    for (const Cidr& range : allowed)
        if (range.contains(ip)) return true;
    return false;
}

}  // namespace lobby
