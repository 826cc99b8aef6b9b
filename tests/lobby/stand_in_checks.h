#pragma once
// What a prober would have found, set by a test: one check per host address, the same for
// every game; "Check again" granted as the prober grants it (once per 10 s per address, and
// only for an address it checks).
#include <map>
#include <mutex>

#include "probe/check.h"

class StandInChecks final : public lobby::Checks {
public:
    // 127.0.0.2 answering (3 of 8, password), .3 checking, .4 silent on UDP 47624, .5 its
    // game port 2350 closed; any other address not checked.
    explicit StandInChecks(std::int64_t now) {
        using lobby::CheckState, lobby::FailedStep;
        checks_[0x7F000002] = {CheckState::Answering, now - 70, "Sunday cup", 3, 8, true, FailedStep::None, 2350};
        checks_[0x7F000003] = {CheckState::Checking};
        checks_[0x7F000004] = {CheckState::NotReachable, now - 5, "", 0, 0, false, FailedStep::Udp47624};
        checks_[0x7F000005] = {CheckState::NotReachable, now - 5, "", 0, 0, false, FailedStep::GamePort, 2350};
    }
    lobby::Check of(int, std::uint32_t ip) const override {
        std::lock_guard lock(mutex_);
        auto found = checks_.find(ip);
        return found == checks_.end() ? lobby::Check{} : found->second;
    }
    bool checkAgain(std::uint32_t ip, std::int64_t now) override {
        std::lock_guard lock(mutex_);
        auto [asked, fresh] = askedAt_.try_emplace(ip, now);
        if (!checks_.count(ip) || (!fresh && now - asked->second < 10)) return false;
        asked->second = now;
        return true;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::uint32_t, lobby::Check> checks_;
    std::map<std::uint32_t, std::int64_t> askedAt_;
};
