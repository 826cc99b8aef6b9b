#include "probe/ranges.h"

#include <array>
#include <string>

#include "http/peer_address.h"
#include "wire/text_rules.h"

namespace lobby {

std::optional<Cidr> parseCidr(std::string_view text) {
    std::size_t slash = text.find('/');
    std::string_view address = text.substr(0, slash);
    auto peer = parsePeerAddress(address);
    if (!peer || !peer->isIpv4 || peer->text != address) return std::nullopt;
    Cidr range{peer->ipv4, 32};
    if (slash != std::string_view::npos) {
        auto bits = parseDigits(text.substr(slash + 1), 2);
        if (!bits || *bits > 32) return std::nullopt;
        range.bits = static_cast<int>(*bits);
    }
    std::uint32_t hostBits = range.bits == 32 ? 0 : 0xffffffffu >> range.bits;
    if ((range.base & hostBits) != 0) return std::nullopt;
    return range;
}

bool isSpecialPurpose(std::uint32_t ip) {
    // IANA's IPv4 special-purpose registry, and multicast and the reserved block above it.
    static constexpr std::array<Cidr, 15> kRanges = {{
        {0x00000000, 8},   // "this network"
        {0x0a000000, 8},   // private
        {0x64400000, 10},  // shared (carrier-grade NAT)
        {0x7f000000, 8},   // loopback
        {0xa9fe0000, 16},  // link-local
        {0xac100000, 12},  // private
        {0xc0000000, 24},  // IETF protocol assignments
        {0xc0000200, 24},  // documentation
        {0xc0586300, 24},  // 6to4 relay anycast
        {0xc0a80000, 16},  // private
        {0xc6120000, 15},  // benchmarking
        {0xc6336400, 24},  // documentation
        {0xcb007100, 24},  // documentation
        {0xe0000000, 4},   // multicast
        {0xf0000000, 4},   // reserved, and the limited broadcast address
    }};
    for (const Cidr& range : kRanges)
        if (range.contains(ip)) return true;
    return false;
}

}  // namespace lobby
