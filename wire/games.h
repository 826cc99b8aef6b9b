#pragma once
// The games the lobby keeps race lists for, one row each, as the client, the lobby and the
// tests name them. No Windows and no sockets: every build compiles it.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

struct GameInfo {
    std::string_view id;          // on the wire: game=NFS4
    std::string_view executable;  // the program the client starts, found under App Paths
};

inline constexpr std::array<GameInfo, 2> kGames = {{
    {"NFS4", "nfsHs.exe"},
    {"NFS5", "Porsche.exe"},
}};

// The games' ids in kGames' order with `between` between each two: "NFS4 and NFS5".
inline std::string gameIds(std::string_view between) {
    std::string ids;
    for (const GameInfo& game : kGames) ids.append(ids.empty() ? "" : between).append(game.id);
    return ids;
}

// In either game, the way into a race, as the website and the chat announcements tell it.
inline constexpr std::string_view kJoinSteps = "choose a multiplayer game over TCP/IP, choose to join";

// A race name holds at most this many characters, in every game.
inline constexpr std::size_t kMaxRaceNameLength = 16;

// The game's index in kGames, or -1.
constexpr int gameIndex(std::string_view id) {
    for (std::size_t i = 0; i < kGames.size(); ++i)
        if (kGames[i].id == id) return static_cast<int>(i);
    return -1;
}
