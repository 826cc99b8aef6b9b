// What a race's name becomes in a chat's markup.
#include <cctype>

#include "notify/notify.h"
#include "wire/text_rules.h"

namespace lobby {

std::string escapeDiscord(std::string_view text) {
    std::string out;
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (isControlByte(c)) {
            out += '?';
            continue;
        }
        // Every ASCII punctuation character may carry a backslash, and several are markup.
        if (u > ' ' && u < 0x7f && !std::isalnum(u)) out += '\\';
        out += c;
    }
    return out;
}

std::string escapeSlack(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += isControlByte(c) ? '?' : c;
        }
    }
    return out;
}

}  // namespace lobby
