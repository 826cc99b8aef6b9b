#pragma once
// The client's protocol, /server/server.php, as a pure function: the query, the client's
// address, the current lists and the block list give the outcome. The answer, the metrics
// and the access log are all made from it; a change to the lists travels in it to the writer,
// which gives it to commitChange. The server and the tests use these two and nothing else.
#include <cstdint>
#include <functional>
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
// On the writer: commits the change `asked` carries and gives the answer. A commit that
// throws is told to `report` and answered as Refusal::Internal.
Outcome commitChange(Outcome asked, RaceLists& lists, std::int64_t now,
                     const std::function<void(const std::string&)>& report);

}  // namespace lobby
