#include "wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace lobby {
namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::optional<Query> parseQuery(std::string_view rawQuery) {
    Query query;
    while (!rawQuery.empty()) {
        std::size_t amp = rawQuery.find('&');
        std::string_view pair = rawQuery.substr(0, amp);
        rawQuery = amp == std::string_view::npos ? std::string_view() : rawQuery.substr(amp + 1);
        if (pair.empty()) continue;

        std::size_t eq = pair.find('=');
        auto key = percentDecode(pair.substr(0, eq));
        auto value = percentDecode(eq == std::string_view::npos ? std::string_view()
                                                                : pair.substr(eq + 1));
        if (!key || !value) return std::nullopt;

        std::optional<std::string>* slot = nullptr;
        if (*key == "action") slot = &query.action;
        else if (*key == "game") slot = &query.game;
        else if (*key == "data") slot = &query.data;
        if (!slot) continue;
        if (slot->has_value()) return std::nullopt;
        *slot = std::move(*value);
    }
    return query;
}

bool isValidRaceName(std::string_view name) {
    if (name.empty() || name.size() > kMaxRaceNameLength) return false;
    for (char c : name)
        if (!isRaceNameChar(c)) return false;
    return true;
}

std::optional<std::uint32_t> parseDecimalAddress(std::string_view text) {
    // from_chars alone would take a leading '-' and stop at the first non-digit.
    if (text.empty() || text.size() > 10 || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<RaceAddData> parseRaceAddData(std::string_view data) {
    constexpr std::string_view namePrefix = "name:";
    constexpr std::string_view ipMarker = ";ip:";
    if (!startsWith(data, namePrefix)) return std::nullopt;
    // A valid name holds no ';', so the last marker is the real one.
    std::size_t marker = data.rfind(ipMarker);
    if (marker == std::string_view::npos || marker < namePrefix.size()) return std::nullopt;
    auto ip = parseDecimalAddress(data.substr(marker + ipMarker.size()));
    if (!ip) return std::nullopt;
    return RaceAddData{std::string(data.substr(namePrefix.size(), marker - namePrefix.size())),
                       *ip};
}

std::optional<std::uint32_t> parseRaceRemData(std::string_view data) {
    constexpr std::string_view ipPrefix = "ip:";
    if (!startsWith(data, ipPrefix)) return std::nullopt;
    return parseDecimalAddress(data.substr(ipPrefix.size()));
}

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
    PeerAddress peer{true, address, formatDotted(address), {}};
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

std::string mendRequestLine(std::string_view line) {
    std::string_view content = withoutLineEnd(line);

    std::size_t first = content.find(' ');
    std::size_t last = content.rfind(' ');
    if (first == std::string_view::npos || last == first ||
        !startsWith(content.substr(last + 1), "HTTP/"))
        return std::string(line);

    std::string out(content.substr(0, first + 1));
    for (char c : content.substr(first + 1, last - first - 1)) {
        if (c == ' ') out += "%20";
        else out += c;
    }
    out += line.substr(last);
    return out;
}

bool isPlainRequestLine(std::string_view line) {
    line = withoutLineEnd(line);
    int blanks = 0;
    for (char c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
        if (c == ' ') ++blanks;
    }
    std::size_t first = line.find(' ');
    return blanks == 2 && first > 0 && line[first + 1] != ' ' &&
           startsWith(line.substr(line.rfind(' ') + 1), "HTTP/1.");
}

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
            // Control bytes have no business in a page; show them as a replacement mark.
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) out += "&#xFFFD;";
            else out += c;
        }
    }
    return out;
}

std::string escapeForLog(std::string_view text, std::size_t maxLength) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (char c : text) {
        if (out.size() >= maxLength) {
            out += "...";
            break;
        }
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7f || c == '"' || c == '\\') {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace lobby
