#include "probe/dplay.h"

#include "wire/text_rules.h"

namespace lobby::dplay {
namespace {

constexpr std::uint32_t kToken = 0xFAB;
constexpr std::uint16_t kVersion = 14;
constexpr std::size_t kSpHeader = 20;  // offsets in a message count from here, the signature
constexpr std::size_t kDescriptionSize = 80;
constexpr std::size_t kMaxNameBytes = 128;  // of UTF-8: a race's memory stays small

void put16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>(v >> 8);
}
void put32(std::string& out, std::uint32_t v) {
    put16(out, static_cast<std::uint16_t>(v & 0xffff));
    put16(out, static_cast<std::uint16_t>(v >> 16));
}
std::uint16_t get16(std::string_view in, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(in[at]) |
                                      static_cast<std::uint8_t>(in[at + 1]) << 8);
}
std::uint32_t get32(std::string_view in, std::size_t at) {
    return get16(in, at) | static_cast<std::uint32_t>(get16(in, at + 2)) << 16;
}
Guid getGuid(std::string_view in, std::size_t at) {
    Guid g{};
    for (std::size_t i = 0; i < g.size(); ++i) g[i] = static_cast<std::uint8_t>(in[at + i]);
    return g;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x20 || c == 0x7f) c = U'?';  // names go into logs and pages
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xe0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
}

// NUL-terminated UTF-16LE from `at` to the terminator or the message's end; a lone
// surrogate becomes U+FFFD.
std::string utf16Name(std::string_view in, std::size_t at) {
    std::string out;
    while (at + 2 <= in.size()) {
        char32_t c = get16(in, at);
        at += 2;
        if (c == 0) break;
        if (c >= 0xd800 && c < 0xdc00 && at + 2 <= in.size() && get16(in, at) >= 0xdc00 &&
            get16(in, at) < 0xe000) {
            c = 0x10000 + ((c - 0xd800) << 10) + (get16(in, at) - 0xdc00);
            at += 2;
        } else if (c >= 0xd800 && c < 0xe000) {
            c = 0xfffd;
        }
        std::size_t before = out.size();
        appendUtf8(out, c);
        if (out.size() > kMaxNameBytes) {
            out.resize(before);
            break;
        }
    }
    return out;
}

// A GUID's bytes in the order its text shows them: Data1..3 are stored little-endian.
constexpr std::array<std::size_t, 16> kTextOrder = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr bool kDashBefore(std::size_t i) { return i == 4 || i == 6 || i == 8 || i == 10; }

}  // namespace

std::optional<Guid> parseGuid(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return std::nullopt;
    Guid g{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        if (kDashBefore(i) && text[at++] != '-') return std::nullopt;
        int hi = hexValue(text[at]), lo = hexValue(text[at + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        g[kTextOrder[i]] = static_cast<std::uint8_t>(hi << 4 | lo);
        at += 2;
    }
    return g;
}

std::string formatGuid(const Guid& g) {
    std::string text = "{";
    for (std::size_t i = 0; i < 16; ++i) {
        if (kDashBefore(i)) text += '-';
        appendHex(text, g[kTextOrder[i]], true);
    }
    return text + "}";
}

std::string enumSessions(std::uint16_t replyPort, const Guid& application, std::uint32_t flags,
                         std::u16string_view password) {
    std::size_t size = kHeaderSize + 16 + 4 + 4 + (password.empty() ? 0 : 2 * (password.size() + 1));
    std::string out;
    out.reserve(size);
    put32(out, static_cast<std::uint32_t>(size) | kToken << 20);
    put16(out, 2);  // AF_INET
    out += static_cast<char>(replyPort >> 8);  // network order
    out += static_cast<char>(replyPort & 0xff);
    out.append(12, '\0');  // address 0: "the datagram's source", and sin_zero
    out += "play";
    put16(out, kEnumSessions);
    put16(out, kVersion);
    out.append(reinterpret_cast<const char*>(application.data()), application.size());
    put32(out, password.empty() ? 0 : static_cast<std::uint32_t>(kHeaderSize + 24 - kSpHeader));
    put32(out, flags);
    if (!password.empty()) {
        for (char16_t c : password) put16(out, c);
        put16(out, 0);
    }
    return out;
}

std::optional<std::size_t> messageSize(std::string_view start) {
    if (start.size() < 4) return std::nullopt;
    std::uint32_t word = get32(start, 0);
    if (word >> 20 != kToken) return std::nullopt;
    return word & 0xfffff;
}

std::optional<Session> parseEnumSessionsReply(std::string_view m) {
    constexpr std::size_t kDescription = kHeaderSize, kNameOffset = kDescription + kDescriptionSize;
    if (m.size() < kNameOffset + 4 || messageSize(m) != m.size()) return std::nullopt;
    if (m.substr(kSpHeader, 4) != "play" || get16(m, 24) != kEnumSessionsReply) return std::nullopt;
    if (get32(m, kDescription) != kDescriptionSize) return std::nullopt;
    Session s;
    s.gamePort = static_cast<std::uint16_t>(static_cast<std::uint8_t>(m[6]) << 8 |
                                            static_cast<std::uint8_t>(m[7]));
    s.flags = get32(m, kDescription + 4);
    s.instance = getGuid(m, kDescription + 8);
    s.application = getGuid(m, kDescription + 24);
    s.maxPlayers = get32(m, kDescription + 40);
    s.currentPlayers = get32(m, kDescription + 44);
    std::uint32_t nameOffset = get32(m, kNameOffset);
    if (nameOffset != 0) {
        if (nameOffset >= m.size() - kSpHeader) return std::nullopt;
        s.name = utf16Name(m, kSpHeader + nameOffset);
    }
    return s;
}

}  // namespace lobby::dplay
