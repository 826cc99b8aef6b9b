#include "site/escaping.h"

#include "wire/text_rules.h"

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
            if (isControlByte(c)) out += "&#xFFFD;";
            else out += c;
        }
    }
    return out;
}

std::string escapeForLog(std::string_view text, std::size_t maxLength) {
    std::string out;
    for (char c : text) {
        if (out.size() >= maxLength) {
            out += "...";
            break;
        }
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7f || c == '"' || c == '\\') {
            out += "\\x";
            appendHex(out, b);
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace lobby
