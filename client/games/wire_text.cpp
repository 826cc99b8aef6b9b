#include "games/wire_text.h"

std::string stripLineEnd(std::string_view text) { return std::string(withoutLineEnd(text)); }

std::uint32_t parseDecimal(std::string_view text) {
    std::uint32_t value = 0;
    for (char c : text) {
        // No digit check: a stray byte gives a wrong number, never an error.
        auto digit = static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)) - '0');
        value = value * 10u + digit;
    }
    return value;
}

std::string formatDecimal(std::uint32_t value) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10u);
        value /= 10u;
    } while (value != 0);
    std::string text;
    text.reserve(static_cast<std::size_t>(n));
    while (n > 0) text.push_back(digits[--n]);
    return text;
}

std::uint32_t parseIp(std::string_view text) {
    std::uint32_t result = 0;
    for (;;) {
        auto dot = text.find('.');
        std::uint32_t part = parseDecimal(text.substr(0, dot));
        if (part > 255u) return 0;
        result = result * 256u + part;
        if (dot == std::string_view::npos) return result;
        text.remove_prefix(dot + 1);
    }
}
