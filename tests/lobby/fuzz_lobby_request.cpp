// Fuzzes the lobby's reading of requests: request lines, queries, race data, names and
// addresses, and the escaping of whatever comes in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http/peer_address.h"
#include "http/request_line.h"
#include "protocol/query.h"
#include "site/escaping.h"
#include "wire/text_rules.h"

using namespace std::string_view_literals;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

std::size_t count(std::string_view text, char c) {
    std::size_t n = 0;
    for (char x : text) n += x == c;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace lobby;
    std::string_view input(reinterpret_cast<const char*>(bytes), size);

    std::string mended = mendRequestLine(input);
    if (isPlainRequestLine(mended)) check(count(mended, ' ') == 2);

    auto decoded = percentDecode(input);
    if (decoded) check(decoded->size() <= input.size());

    if (auto query = parseQuery(input)) {
        std::string data = query->data.value_or(std::string(input));
        if (auto add = parseRaceAddData(data)) {
            check(parseDecimalAddress(std::to_string(add->ip)) == add->ip);
            if (isValidRaceName(add->name)) {
                // A stored name can never break a line of the race list or the page.
                std::string line = add->name + ',' + std::to_string(add->ip) + ",1\n";
                check(count(line, ',') == 2 && count(line, '\n') == 1);
                check(add->name.find_first_of("\r\0;:&%<>\"\\"sv) == std::string::npos);
            }
        }
        if (auto ip = parseRaceRemData(data)) check(formatIp(*ip).size() <= 15);
    }

    if (auto peer = parsePeerAddress(input)) {
        if (peer->isIpv4) check(formatIp(peer->ipv4) == peer->text);
        check(parsePeerAddress(peer->text).has_value());
    }

    std::string html = escapeHtml(input);
    check(html.find_first_of("<>\"'") == std::string::npos);
    for (char c : escapeForLog(input, 64))
        check(c >= 0x20 && c < 0x7f && c != '"');
    return 0;
}
