#include "http/peer_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

#include "wire/text_rules.h"

namespace lobby {

std::optional<PeerAddress> parsePeerAddress(std::string_view text) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN ||
        text.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::string z(text);  // inet_pton needs a terminated string

    in_addr v4{};
    if (inet_pton(AF_INET, z.c_str(), &v4) == 1) return ipv4Peer(ntohl(v4.s_addr));
    in6_addr v6{};
    if (inet_pton(AF_INET6, z.c_str(), &v6) != 1) return std::nullopt;
    std::array<std::uint8_t, 16> bytes{};
    std::memcpy(bytes.data(), v6.s6_addr, 16);
    return ipv6Peer(bytes);
}

PeerAddress ipv4Peer(std::uint32_t address) {
    PeerAddress peer{true, address, formatIp(address), {}};
    peer.ipv6[10] = peer.ipv6[11] = 0xff;
    for (std::size_t i = 0; i < 4; ++i)
        peer.ipv6[12 + i] = static_cast<std::uint8_t>(address >> (24 - 8 * i));
    return peer;
}

PeerAddress ipv6Peer(const std::array<std::uint8_t, 16>& bytes) {
    constexpr std::array<std::uint8_t, 12> mapped = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::equal(mapped.begin(), mapped.end(), bytes.begin()))
        return ipv4Peer(std::uint32_t{bytes[12]} << 24 | std::uint32_t{bytes[13]} << 16 |
                        std::uint32_t{bytes[14]} << 8 | bytes[15]);
    char canonical[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, bytes.data(), canonical, sizeof canonical);
    return PeerAddress{false, 0, canonical, bytes};
}

AddressKey keyOf(const PeerAddress& peer) {
    AddressKey key{peer.ipv6};
    if (!peer.isIpv4) std::fill(key.bytes.begin() + 8, key.bytes.end(), 0);  // the /64
    return key;
}

std::uint64_t hashOf(const AddressKey& key) {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (std::uint8_t b : key.bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

std::string_view lastHeaderItem(std::string_view value) {
    std::size_t comma = value.rfind(',');
    if (comma != std::string_view::npos) value = value.substr(comma + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    return value;
}

}  // namespace lobby
