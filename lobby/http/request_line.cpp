#include "http/request_line.h"

#include "wire/text_rules.h"

namespace lobby {

std::string mendRequestLine(std::string_view line) {
    std::string_view content = withoutLineEnd(line);

    std::size_t first = content.find(' ');
    std::size_t last = content.rfind(' ');
    if (first == std::string_view::npos || last == first ||
        !content.substr(last + 1).starts_with("HTTP/"))
        return std::string(line);

    std::string out(content.substr(0, first + 1));
    for (char c : content.substr(first + 1, last - first - 1)) {
        if (c == ' ') out += "%20";
        else out += c;
    }
    out += line.substr(last);
    return out;
}

std::string percentEncodeControls(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (isControlByte(c)) {
            out += '%';
            appendHex(out, static_cast<unsigned char>(c), true);
        } else {
            out += c;
        }
    }
    return out;
}

bool isPlainRequestLine(std::string_view line) {
    line = withoutLineEnd(line);
    int blanks = 0;
    for (char c : line) {
        if (isControlByte(c)) return false;
        if (c == ' ') ++blanks;
    }
    std::size_t first = line.find(' ');
    return blanks == 2 && first > 0 && line[first + 1] != ' ' &&
           line.substr(line.rfind(' ') + 1).starts_with("HTTP/1.");
}

}  // namespace lobby
