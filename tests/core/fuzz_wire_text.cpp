// Fuzzes the wire conversions and the envelope with arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/error_text.h"
#include "games/wire_text.h"
#include "server/envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    std::string stripped = stripLineEnd(text);
    if (stripped.size() > text.size() || text.substr(0, stripped.size()) != stripped) std::abort();

    std::uint32_t value = parseDecimal(text);
    if (parseDecimal(formatDecimal(value)) != value) std::abort();

    std::uint32_t address = parseIp(text);
    if (parseIp(formatIp(address)) != address) std::abort();

    Envelope e = parseEnvelope(text);
    if (e.outcome == EnvelopeOutcome::Invalid && text.find('\n') != std::string_view::npos) std::abort();
    if ((e.outcome == EnvelopeOutcome::Ok || e.outcome == EnvelopeOutcome::Error) &&
        text.substr(text.find('\n') + 1) != e.rest)
        std::abort();
    try {
        requireOk(e);
    } catch (const ErrorText&) {
    }
    return 0;
}
