#pragma once
// The command line of kestrun-lobby.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "daemon/config.h"
#include "wire/games.h"

namespace lobby {

struct CommandLine {
    enum class Mode { Serve, Seed, Races, Remove, Client, Help, Version };
    Mode mode = Mode::Serve;
    LobbyConfig config;
    int seedRaces = 20;
    std::vector<std::string> seedGames = [] {
        std::vector<std::string> all;
        for (const GameInfo& game : kGames) all.emplace_back(game.id);
        return all;
    }();
    std::string removeGame;          // remove: both are required
    std::optional<std::uint32_t> removeIp;
    std::string clientOut;           // client: required, like --public-url
};

struct ParsedCommandLine {
    std::optional<CommandLine> commandLine;
    std::string error;  // set when commandLine is empty
};

// args: the arguments after the program name.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);
std::string usageText();

}  // namespace lobby
