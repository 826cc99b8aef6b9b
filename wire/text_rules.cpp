#include "wire/text_rules.h"

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isRaceNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == ' ' || c == '\'';
}

bool isControlByte(char c) {
    auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7f;
}

void appendHex(std::string& out, unsigned char byte, bool upper) {
    static constexpr char kDigits[] = "0123456789abcdef0123456789ABCDEF";
    const char* digits = upper ? kDigits + 16 : kDigits;
    out += digits[byte >> 4];
    out += digits[byte & 15];
}

std::optional<std::uint64_t> parseDigits(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits || text.size() > 19) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

std::string formatIp(std::uint32_t address) {
    return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 255u) + '.' +
           std::to_string((address >> 8) & 255u) + '.' + std::to_string(address & 255u);
}

std::string_view withoutLineEnd(std::string_view text) {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    return text;
}

bool takeLine(std::string_view& text, std::string_view& line) {
    auto end = text.find('\n');
    if (end == std::string_view::npos) return false;
    line = withoutLineEnd(text.substr(0, end + 1));
    text.remove_prefix(end + 1);
    return true;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int hi = hexValue(text[i + 1]);
        int lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}
