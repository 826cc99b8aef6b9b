#pragma once
// The client's protocol, /server/server.php, as a pure function: the query, the client's
// address, the current lists and the block list give the outcome. The answer, the metrics
// and the access log are all made from it; a change to the lists travels in it to the writer.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/peer_address.h"
#include "protocol/actions.h"
#include "protocol/refusals.h"
#include "races/block_list.h"
#include "races/race_lists.h"

namespace lobby {

inline constexpr std::string_view kScriptPath = "/server/server.php";

struct Outcome {
    Action action = Action::Unknown;
    int status = 200;  // always: the client shows the body of a 200 only
    std::shared_ptr<const std::string> body;  // empty while a change waits for the writer
    std::optional<Refusal> refusal;
    std::string detail;            // what the refusal's text names
    std::optional<Change> change;  // for the writer to commit

    bool ok() const { return !refusal; }
    // The access log's note: "OK", or "ERROR: " and the player's text.
    std::string summary() const;
};

struct ProtocolRequest {
    std::string_view rawQuery;
    const PeerAddress& client;
    std::int64_t now;
    std::size_t maxQuery;
};

Outcome answerScript(const ProtocolRequest& request, const RaceLists& lists,
                     const BlockList& blocks);
Outcome refusedScript(Action action, Refusal reason, std::string detail = {});
// A change's outcome once the writer has tried it: the refusal it met, if any.
Outcome committed(Outcome asked, std::optional<Refusal> refusal);

}  // namespace lobby
