#include "site/metrics.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <sstream>

namespace lobby {

LobbyMetrics::LobbyMetrics() : registry_(std::make_shared<prometheus::Registry>()) {
    auto& requests = prometheus::BuildCounter()
                         .Name("kestrun_requests_total")
                         .Help("Requests by what was asked and whether it succeeded")
                         .Register(*registry_);
    for (std::size_t a = 0; a < requests_.size(); ++a)
        for (int ok = 0; ok < 2; ++ok)
            requests_[a][static_cast<std::size_t>(ok)] =
                &requests.Add({{"action", std::string(kActionNames[a])}, {"outcome", ok ? "ok" : "error"}});
    auto& refusals = prometheus::BuildCounter()
                         .Name("kestrun_refusals_total")
                         .Help("Requests refused with an explanation to the player, by reason")
                         .Register(*registry_);
    for (std::size_t r = 0; r < refusals_.size(); ++r)
        refusals_[r] = &refusals.Add({{"reason", std::string(refusalRow(static_cast<Refusal>(r)).label)}});
    openConnections_ = &prometheus::BuildGauge()
                            .Name("kestrun_open_connections")
                            .Help("Open client connections")
                            .Register(*registry_)
                            .Add({});
    rateLimited_ = &prometheus::BuildGauge()
                        .Name("kestrun_rate_limited_addresses")
                        .Help("Addresses that have used up their requests for this minute")
                        .Register(*registry_)
                        .Add({});
}

LobbyMetrics::~LobbyMetrics() = default;

void LobbyMetrics::count(Action action, bool ok) {
    requests_[static_cast<std::size_t>(action)][ok ? 1 : 0]->Increment();
}

void LobbyMetrics::count(Refusal reason) { refusals_[static_cast<std::size_t>(reason)]->Increment(); }

std::string LobbyMetrics::render(const Snapshot& now) {
    std::lock_guard lock(renderMutex_);
    openConnections_->Set(static_cast<double>(now.openConnections));
    rateLimited_->Set(static_cast<double>(now.rateLimitedAddresses));
    // Values that live elsewhere go into a registry of their own for this one answer.
    prometheus::Registry snapshot;
    auto& races = prometheus::BuildGauge()
                      .Name("kestrun_races")
                      .Help("Races in each game's list")
                      .Register(snapshot);
    for (const auto& [game, count] : now.racesPerGame)
        races.Add({{"game", game}}).Set(static_cast<double>(count));
    auto& connections = prometheus::BuildCounter()
                            .Name("kestrun_connection_refusals_total")
                            .Help("Connections refused or ended by the HTTP layer, by reason")
                            .Register(snapshot);
    for (const auto& [reason, count] : now.connectionRefusals)
        connections.Add({{"reason", reason}}).Increment(static_cast<double>(count));
    if (now.notifications) {
        auto& notifications = prometheus::BuildCounter()
                                  .Name("kestrun_notifications_total")
                                  .Help("Races told to chat webhooks, by the webhooks' kind and the "
                                        "outcome (dropped: pushed out of a full queue)")
                                  .Register(snapshot);
        for (std::size_t k = 0; k < kWebhookKinds; ++k) {
            const NotificationCounts& c = (*now.notifications)[k];
            std::string kind(kindName(static_cast<WebhookKind>(k)));
            for (const auto& [outcome, count] :
                 {std::pair{"sent", c.sent}, {"failed", c.failed}, {"dropped", c.dropped}})
                notifications.Add({{"kind", kind}, {"outcome", outcome}})
                    .Increment(static_cast<double>(count));
        }
    }
    if (const ProbeCounters* p = now.probes) {
        auto counter = [&](const char* name, const char* help) -> prometheus::Family<prometheus::Counter>& {
            return prometheus::BuildCounter().Name(name).Help(help).Register(snapshot);
        };
        counter("kestrun_probes_sent_total", "Checks of a race's host begun (each up to 3 datagrams)")
            .Add({}).Increment(static_cast<double>(p->sent.load()));
        counter("kestrun_probes_answered_total", "Checks whose host answered and whose game port took a connection")
            .Add({}).Increment(static_cast<double>(p->answered.load()));
        auto& failed = counter("kestrun_probes_failed_total", "Checks that failed, by the step that failed");
        failed.Add({{"step", std::string(failedStepName(FailedStep::Udp47624))}})
            .Increment(static_cast<double>(p->failedUdp47624.load()));
        failed.Add({{"step", std::string(failedStepName(FailedStep::GamePort))}})
            .Increment(static_cast<double>(p->failedGamePort.load()));
        counter("kestrun_probes_refused_by_range_total", "Announcements from addresses the lobby does not probe")
            .Add({}).Increment(static_cast<double>(p->refusedByRange.load()));
        prometheus::BuildGauge().Name("kestrun_probes_in_flight").Help("Checks under way now")
            .Register(snapshot).Add({}).Set(static_cast<double>(p->inFlight.load()));
    }
    auto families = registry_->Collect();
    auto more = snapshot.Collect();
    families.insert(families.end(), more.begin(), more.end());
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, families);
    return out.str();
}

}  // namespace lobby
