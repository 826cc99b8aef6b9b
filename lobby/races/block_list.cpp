#include "races/block_list.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "http/peer_address.h"
#include "system/read_file.h"
#include "wire/text_rules.h"

namespace lobby {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool inRange(const std::array<std::uint8_t, 16>& address, const std::array<std::uint8_t, 16>& network,
             int prefix) {
    for (int bit = 0; bit < prefix; bit += 8) {
        int bits = std::min(8, prefix - bit);
        auto mask = static_cast<std::uint8_t>(0xff << (8 - bits));
        if ((address[bit / 8] & mask) != (network[bit / 8] & mask)) return false;
    }
    return true;
}

}  // namespace

BlockList BlockList::parse(std::string_view text) {
    BlockList list;
    int number = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (std::size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        line = trim(line);
        if (line.empty()) continue;
        auto fail = [number](const std::string& what) {
            return BlockListError("line " + std::to_string(number) + ": " + what);
        };
        if (line.substr(0, 5) == "word:") {
            std::string_view word = trim(line.substr(5));
            if (word.empty()) throw fail("'word:' needs a text after it");
            list.words_.push_back(lower(word));
            continue;
        }
        std::string address(line);
        std::optional<int> prefix;
        if (std::size_t slash = line.find('/'); slash != std::string_view::npos) {
            address = std::string(line.substr(0, slash));
            std::string_view digits = line.substr(slash + 1);
            auto value = parseDigits(digits, 3);
            if (!value) throw fail("bad prefix length in " + std::string(line));
            prefix = static_cast<int>(*value);
        }
        auto peer = parsePeerAddress(address);
        if (peer && peer->isIpv4) {
            int bits = prefix.value_or(32);
            if (bits > 32) throw fail("an IPv4 prefix is at most 32: " + std::string(line));
            std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
            list.v4_.push_back(Range4{peer->ipv4 & mask, mask});
        } else if (peer) {
            int bits = prefix.value_or(128);
            if (bits > 128) throw fail("an IPv6 prefix is at most 128: " + std::string(line));
            list.v6_.push_back(Range6{peer->ipv6, bits});
        } else {
            throw fail("not an address, a range or 'word: TEXT': " + std::string(line));
        }
    }
    return list;
}

BlockList BlockList::load(const std::string& path) {
    auto text = readFile(path);
    if (!text) throw BlockListError("cannot read " + path + ": " + std::strerror(errno));
    return parse(*text);
}

bool BlockList::blocksAddress(std::uint32_t ipv4) const {
    return std::any_of(v4_.begin(), v4_.end(),
                       [ipv4](const Range4& r) { return (ipv4 & r.mask) == r.network; });
}

bool BlockList::blocksAddress(std::string_view text) const {
    auto peer = parsePeerAddress(text);
    return peer && blocksAddress(*peer);
}

bool BlockList::blocksAddress(const PeerAddress& peer) const {
    if (peer.isIpv4) return blocksAddress(peer.ipv4);
    return std::any_of(v6_.begin(), v6_.end(),
                       [&](const Range6& r) { return inRange(peer.ipv6, r.network, r.prefix); });
}

bool BlockList::blocksName(std::string_view name) const {
    std::string text = lower(name);
    return std::any_of(words_.begin(), words_.end(),
                       [&](const std::string& w) { return text.find(w) != std::string::npos; });
}

}  // namespace lobby
