// The game tab's handling of the server's answers to "racelist", "raceadd" and "racerem".
#include <new>
#include <numeric>

#include "common/error_text.h"
#include "common/scope_exit.h"
#include "games/game_tab.h"
#include "games/time_text.h"
#include "games/wire_text.h"
#include "res/resource.h"
#include "server/envelope.h"

namespace {

constexpr const char* kNoMemory = "Memory couldn't be allocated.";

}  // namespace

void GameTab::handleResponse(const std::string& action, const std::string& body) {
    try {
        if (action == "racelist")
            onRaceList(body);
        else if (action == "raceadd")
            onRaceAdded(body);
        else if (action == "racerem")
            onRaceRemoved(body);
        else
            throw ErrorText(kInvalidActionPrefix + action);
    } catch (const ErrorText& e) {
        reportError(e.text);
    } catch (const std::bad_alloc&) {
        reportError(kNoMemory);
    }
}

void GameTab::releaseRaces() {
    raceCount_ = 0;
    std::vector<RaceEntry>().swap(races_);
    std::vector<std::uint32_t>().swap(rowOrder_);
}

void GameTab::onRaceList(const std::string& body) {
    const std::string payload = requireOk(parseEnvelope(body));

    // The rows go first, so no display request can reach the arrays while they change.
    SendMessageA(listView_, LVM_DELETEALLITEMS, 0, 0);
    releaseRaces();

    RaceListPayload list;
    std::vector<std::uint32_t> order;
    try {
        list = parseRaceListPayload(payload);
        if (list.hasRetrievedOn) retrievedOn_ = list.retrievedOn;
        if (!list.hasCount) throw ErrorText(kInvalidResponse);
        // Texts are formatted once, here; records before a broken line are formatted
        // first, so a time formatting failure among them is what the user sees.
        for (RaceEntry& race : list.races) race.createdText = formatTimestamp(race.createdOn);
        if (!list.complete) throw ErrorText(kInvalidResponse);
        // Rows are only ordered at the end; until then row r shows race r.
        order.resize(list.count);
        std::iota(order.begin(), order.end(), 0u);
    } catch (const std::bad_alloc&) {
        throw ErrorText(kNoMemory);
    }
    races_ = std::move(list.races);
    rowOrder_ = std::move(order);
    raceCount_ = list.count;

    if (!SetDlgItemTextA(pageWindow_, IDC_ROOM_COUNT, formatDecimal(raceCount_).c_str()))
        throw ErrorText("Error setting tab rooms.");
    if (!SetDlgItemTextA(pageWindow_, IDC_RETRIEVED_ON, formatTimestamp(retrievedOn_).c_str()))
        throw ErrorText("Error setting tab time.");

    {
        // Wine's list view redraws its scroll bars after every insertion unless told to
        // wait, which makes a list of a thousand races take seconds.
        SendMessageA(listView_, WM_SETREDRAW, FALSE, 0);
        ScopeExit redrawAgain([this] {
            SendMessageA(listView_, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(listView_, nullptr, TRUE);
        });
        for (std::uint32_t i = 0; i < raceCount_; ++i) {
            LVITEMA item{};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(i);
            item.iSubItem = 0;
            item.pszText = LPSTR_TEXTCALLBACKA;
            if (SendMessageA(listView_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)) == -1)
                throw ErrorText("Error inserting race list item.");
        }
    }

    sortColumn_ = 0;
    sortByColumn(2);
    listRetrieved_ = true;
    setStatusText("Retrieved " + gameId_ + " race list from server.");
    idle_ = true;
}

void GameTab::onRaceAdded(const std::string& body) {
    requireOk(parseEnvelope(body));
    setStatusText("Added race to " + gameId_ + " race list.");
    idle_ = true;
    refresh();
}

void GameTab::onRaceRemoved(const std::string& body) {
    requireOk(parseEnvelope(body));
    setStatusText("Removed race from " + gameId_ + " race list.");
    idle_ = true;
    refresh();
}
