#pragma once
// Announcements of new races in a community's chat: a post to each configured webhook,
// sent from a thread of its own (run()) so that no player's answer and no commit waits for one.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "races/race_store.h"

namespace lobby {

// Slack's payload is also what Mattermost and Rocket.Chat take.
enum class WebhookKind { Discord, Slack, Json, Count };
inline constexpr std::size_t kWebhookKinds = static_cast<std::size_t>(WebhookKind::Count);
std::string_view kindName(WebhookKind kind);

struct Webhook {
    WebhookKind kind = WebhookKind::Json;
    std::string url;  // http or https
};

// "KIND:URL" as --notify takes it; the error says what is wrong with it.
struct ParsedWebhook {
    std::optional<Webhook> webhook;
    std::string error;
};
ParsedWebhook parseWebhook(std::string_view option);

struct Announcement {
    std::string game;
    Race race;
};

// Backslashes before Discord's markdown characters; control bytes become '?'.
std::string escapeDiscord(std::string_view text);
// Slack's three entities (&, <, >); control bytes become '?'.
std::string escapeSlack(std::string_view text);
// The JSON body posted to a webhook of that kind for one or more new races.
std::string notificationBody(WebhookKind kind, const std::vector<Announcement>& races,
                             std::int64_t now);

// A host that withdraws and announces again soon after is not news: remembers, per game
// and address, when each was last announced.
class RepeatFilter {
public:
    static constexpr std::int64_t kWindowSeconds = 10 * 60;
    // True when this host's race in this game was not announced in the window before now.
    bool admit(const std::string& game, std::uint32_t ip, std::int64_t now);

private:
    struct Seen {
        std::string game;
        std::uint32_t ip;
        std::int64_t at;
    };
    std::vector<Seen> seen_;
};

struct NotifierTiming {
    std::chrono::milliseconds gather{2000};    // a first race waits this long for company
    std::chrono::milliseconds interval{3000};  // between two posts to one webhook
    std::chrono::milliseconds timeout{10000};  // for one post, connecting included
    std::chrono::milliseconds backoff{2000};   // after a first failure; doubles each time
    std::chrono::seconds maxRetryAfter{600};   // a 429's Retry-After is honoured up to this
    int attempts = 4;            // a post that fails this often is dropped
    std::size_t queueLimit = 100;  // races waiting per webhook; past it the oldest go
    std::size_t perMessage = 10;   // races in one post; more wait for the next
};

// Races announced to one kind of webhook (summed over webhooks of that kind).
struct NotificationCounts {
    std::uint64_t sent = 0;
    std::uint64_t failed = 0;   // given up after retries, or refused for good
    std::uint64_t dropped = 0;  // pushed out of a full queue
};

class NotifyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Notifier {
public:
    // caFile: PEM certificates trusted besides the system's; empty for none. Throws
    // NotifyError if it can't be read or holds no certificate. log gets one line per
    // giving-up, from the notifier's thread. clock: the lobby's, for the posts' times.
    Notifier(std::vector<Webhook> webhooks, const std::string& caFile,
             std::function<void(const std::string&)> log, std::function<std::int64_t()> clock,
             NotifierTiming timing = {});
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    // The notifier's thread: posts until stop(), which ends it at once, also in the middle
    // of a post.
    void run();
    void stop();

    // A race just committed; from any thread, never waits for the network. A repeat within
    // RepeatFilter's window (by the race's creation time) is left out.
    void announce(const std::string& game, const Race& race);
    std::array<NotificationCounts, kWebhookKinds> counts() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lobby
