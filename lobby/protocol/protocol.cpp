#include "protocol/protocol.h"

#include <exception>
#include <utility>

#include "protocol/query.h"
#include "wire/games.h"

namespace lobby {
namespace {

Outcome answered(Action action, std::string body) {
    Outcome outcome;
    outcome.action = action;
    outcome.body = std::make_shared<const std::string>(std::move(body));
    return outcome;
}

}  // namespace

std::string Outcome::summary() const {
    return refusal ? "ERROR: " + refusalText(*refusal, detail) : "OK";
}

Outcome refusedScript(Action action, Refusal reason, std::string detail) {
    Outcome outcome = answered(action, refusalBody(reason, detail));
    outcome.refusal = reason;
    outcome.detail = std::move(detail);
    return outcome;
}

Outcome answerScript(const ProtocolRequest& request, const RaceLists& lists,
                     const BlockList& blocks) {
    if (request.rawQuery.size() > request.maxQuery)
        return refusedScript(Action::Unknown, Refusal::TooLong);
    auto query = parseQuery(request.rawQuery);
    if (!query) return refusedScript(Action::Unknown, Refusal::Unreadable);
    const PeerAddress& client = request.client;
    const Action action = scriptAction(query->action.value_or(""));
    auto refuse = [action](Refusal reason, std::string detail = {}) {
        return refusedScript(action, reason, std::move(detail));
    };

    if (action == Action::Getip)
        return client.isIpv4 ? answered(action, "OK\n" + client.text + "\n")
                             : refuse(Refusal::NeedsIpv4);
    if (action == Action::Unknown) return refuse(Refusal::UnknownAction);
    int game = gameIndex(query->game.value_or(""));
    if (game < 0) return refuse(Refusal::UnknownGame, gameIds(" and "));
    if (action == Action::Racelist) {
        Outcome outcome;
        outcome.action = action;
        outcome.body = lists.raceListBody(game, request.now);
        return outcome;
    }
    // Only an address the lobby can see may change a list: IPv6 peers, blocked or not,
    // change nothing.
    if (!client.isIpv4) return refuse(Refusal::NeedsIpv4);

    Change change;
    change.game = game;
    if (action == Action::Raceadd) {
        auto parsed = parseRaceAddData(query->data.value_or(""));
        if (!parsed) return refuse(Refusal::BadRaceData);
        if (!isValidRaceName(parsed->name)) return refuse(Refusal::BadName);
        if (parsed->ip != client.ipv4) return refuse(Refusal::NotOwnAddress, client.text);
        if (blocks.blocksAddress(client)) return refuse(Refusal::BlockedAddress);
        if (blocks.blocksName(parsed->name)) return refuse(Refusal::BlockedName);
        change.race = Race{std::move(parsed->name), parsed->ip, 0};
    } else {
        auto ip = parseRaceRemData(query->data.value_or(""));
        if (!ip) return refuse(Refusal::BadRaceData);
        if (*ip != client.ipv4) return refuse(Refusal::NotOwnRace, client.text);
        change.kind = Change::Kind::Remove;
        change.race.ip = *ip;
    }
    Outcome outcome;
    outcome.action = action;
    outcome.change = std::move(change);
    return outcome;
}

Outcome commitChange(Outcome asked, RaceLists& lists, std::int64_t now,
                     const std::function<void(const std::string&)>& report) {
    std::optional<Refusal> refusal;
    try {
        refusal = lists.commit(*asked.change, now);
    } catch (const std::exception& e) {
        report(e.what());
        refusal = Refusal::Internal;
    }
    if (!refusal) return answered(asked.action, "OK\n");
    std::string game(kGames[static_cast<std::size_t>(asked.change->game)].id);
    return refusedScript(asked.action, *refusal, *refusal == Refusal::Internal ? "" : game);
}

}  // namespace lobby
