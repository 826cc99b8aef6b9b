#include "site/escaping.h"

namespace lobby {

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
