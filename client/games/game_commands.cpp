// The game tab's commands and how a failed exchange ends.
#include <vector>

#include "app/dialogs/show_error.h"
#include "common/error_text.h"
#include "common/win_handles.h"
#include "games/game_tab.h"
#include "games/wire_text.h"
#include "wire/race_data.h"

void GameTab::show() {
    ShowWindow(pageWindow_, SW_SHOW);
    currentTab_ = this;
    fetchRaceList();
}

void GameTab::hide() {
    ShowWindow(pageWindow_, SW_HIDE);
    currentTab_ = nullptr;
}

void GameTab::refresh() {
    listRetrieved_ = false;
    fetchRaceList();
}

void GameTab::fetchRaceList() {
    if (listRetrieved_ || !idle_) return;
    idle_ = false;
    setStatusText("Retrieving " + gameId_ + " race list from server...");
    sendRaceRequest("racelist", {});
}

void GameTab::addRace(const std::string& name, const std::string& ownIp) {
    if (!idle_) return;
    idle_ = false;
    setStatusText("Adding race to " + gameId_ + " race list...");
    sendRaceRequest("raceadd", raceAddData(name, formatDecimal(parseIp(ownIp))));
}

void GameTab::removeRace(const std::string& ownIp) {
    if (!idle_) return;
    idle_ = false;
    setStatusText("Removing race from " + gameId_ + " race list...");
    sendRaceRequest("racerem", raceRemData(formatDecimal(parseIp(ownIp))));
}

void GameTab::sendRaceRequest(const char* action, const std::string& data) {
    try {
        request_.send(this, action, gameId_, data);
    } catch (const ErrorText&) {
        // Nothing went out, so nothing will end the exchange: the tab must not stay waiting.
        idle_ = true;
        throw;
    }
}

void GameTab::launchGame() {
    if (exePath_.empty() || workDir_.empty()) throw ErrorText(gameId_ + " registry entry couldn't be read.");
    std::string commandLine = "\"" + exePath_ + "\"";
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    // The client neither waits for the game nor keeps track of it: its handles close at once.
    UniqueProcessInformation started;
    if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, workDir_.c_str(), &startup,
                        &started))
        throw ErrorText("Error launching " + gameId_ + ":\n" + exePath_);
}

void GameTab::reportError(const std::string& message) {
    const auto lineFeed = message.find('\n');
    setStatusText(lineFeed == std::string::npos ? message : stripLineEnd(message.substr(0, lineFeed)));
    idle_ = true;
    showError(listView_, message);  // the box is the last thing done (see the main window)
}
