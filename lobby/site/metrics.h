#pragma once
// The lobby's counters in Prometheus's text format, for /metrics.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "notify/notify.h"
#include "probe/check.h"
#include "protocol/actions.h"
#include "protocol/refusals.h"

namespace prometheus {
class Counter;
class Gauge;
class Registry;
}  // namespace prometheus

namespace lobby {

class LobbyMetrics {
public:
    LobbyMetrics();
    ~LobbyMetrics();

    void count(Action action, bool ok);
    void count(Refusal reason);

    struct Snapshot {
        std::vector<std::pair<std::string, std::size_t>> racesPerGame;
        std::uint64_t openConnections = 0;
        std::uint64_t rateLimitedAddresses = 0;
        // The HTTP layer's own refusals, as totals since start: reason and count.
        std::vector<std::pair<std::string, std::uint64_t>> connectionRefusals;
        // Races told to webhooks, by the webhooks' kind; not shown without webhooks.
        std::optional<std::array<NotificationCounts, kWebhookKinds>> notifications;
        // The prober's totals; not shown without a prober.
        const ProbeCounters* probes = nullptr;
    };
    std::string render(const Snapshot& now);

private:
    std::shared_ptr<prometheus::Registry> registry_;
    std::array<std::array<prometheus::Counter*, 2>, static_cast<std::size_t>(Action::Count)> requests_{};
    std::array<prometheus::Counter*, static_cast<std::size_t>(Refusal::Count)> refusals_{};
    prometheus::Gauge* openConnections_ = nullptr;
    prometheus::Gauge* rateLimited_ = nullptr;
    std::mutex renderMutex_;
};

}  // namespace lobby
