#pragma once
// DirectPlay 4's EnumSessions exchange over TCP/IP, as bytes: the request the prober sends and
// the reply it reads. Pure functions that trust nothing they are given.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lobby::dplay {

inline constexpr std::uint16_t kEnumPort = 47624;  // where a host listens for EnumSessions (UDP)
inline constexpr std::size_t kHeaderSize = 28;     // service provider's 20, then play, command, version
inline constexpr std::size_t kMaxReply = 1024;     // the most the prober reads of one reply
inline constexpr std::uint16_t kEnumSessionsReply = 1, kEnumSessions = 2;

// As it lies in a message: the first three fields little-endian.
using Guid = std::array<std::uint8_t, 16>;
// "{A052A50B-FFE0-CF11-9C4E-00A0C905425E}", braces optional.
std::optional<Guid> parseGuid(std::string_view text);
std::string formatGuid(const Guid& guid);

// EnumSessions flags.
inline constexpr std::uint32_t kEnumAll = 0x2, kEnumPasswordRequired = 0x40;
// Session flags.
inline constexpr std::uint32_t kSessionJoinDisabled = 0x20, kSessionPasswordRequired = 0x400;

// The request to HOST:47624; the host answers over TCP to the datagram's source at replyPort.
// A null application asks for every session. 52 bytes without a password.
std::string enumSessions(std::uint16_t replyPort, const Guid& application,
                         std::uint32_t flags = kEnumAll | kEnumPasswordRequired,
                         std::u16string_view password = {});

struct Session {
    std::uint16_t gamePort = 0;  // from the reply's header: where the game itself listens
    std::uint32_t flags = 0;
    Guid instance{}, application{};
    std::uint32_t maxPlayers = 0, currentPlayers = 0;
    std::string name;  // UTF-8
    bool passwordRequired() const { return (flags & kSessionPasswordRequired) != 0; }
};

// The size a message's first word gives, once `start` holds it; nullopt while it is shorter
// than 4 bytes or if the word does not carry DirectPlay's token.
std::optional<std::size_t> messageSize(std::string_view start);

// One whole EnumSessionsReply: the token and a size equal to the message's, the signature,
// command 1, a session description of 80 bytes and a name offset inside the message.
std::optional<Session> parseEnumSessionsReply(std::string_view message);

}  // namespace lobby::dplay
