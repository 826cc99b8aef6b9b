#include "notify/notify.h"

#include <curl/curl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>

#include "site/races_json.h"
#include "site/website.h"
#include "system/read_file.h"
#include "wire/games.h"
#include "wire/text_rules.h"

namespace lobby {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kKindNames[] = {"discord", "slack", "json"};
static_assert(std::size(kKindNames) == kWebhookKinds);

// The host of an http or https URL; nullopt for anything else.
std::optional<std::string> webhookHost(const std::string& url) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    char* scheme = nullptr;
    char* host = nullptr;
    std::optional<std::string> result;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        (std::string_view(scheme) == "http" || std::string_view(scheme) == "https") && *host)
        result = host;
    curl_free(scheme);
    curl_free(host);
    return result;
}

// Chat text for one or more races; Slack's family has no escape for its emphasis, so a
// name goes into a code span there, where nothing is markup.
std::string messageText(const std::vector<Announcement>& races, bool slack) {
    auto bold = [slack](const std::string& text) { return slack ? "*" + text + "*" : "**" + text + "**"; };
    auto name = [slack](const std::string& text) {
        if (!slack) return escapeDiscord(text);
        std::string quoted = escapeSlack(text);
        std::replace(quoted.begin(), quoted.end(), '`', '\'');
        return "`" + quoted + "`";
    };
    auto hosted = [&](const Announcement& a) {
        return name(a.race.name) + ", hosted at `" + formatIp(a.race.ip) + "`";
    };
    const std::string howTo = ", " + std::string(kJoinSteps) + " and type ";
    if (races.size() == 1) {
        const Announcement& a = races.front();
        return bold("New " + a.game + " race:") + " " + hosted(a) + "\nTo join: start " + a.game +
               howTo + formatIp(a.race.ip) + ".";
    }
    std::string text = bold(std::to_string(races.size()) + " new races:") + "\n";
    for (const Announcement& a : races) text += "\u2022 " + a.game + ": " + hosted(a) + "\n";
    return text + "To join: start the game" + howTo + "the host's address.";
}

}  // namespace

std::string_view kindName(WebhookKind kind) { return kKindNames[static_cast<std::size_t>(kind)]; }

ParsedWebhook parseWebhook(std::string_view option) {
    std::size_t colon = option.find(':');
    std::string_view kind = option.substr(0, colon == std::string_view::npos ? 0 : colon);
    for (std::size_t k = 0; k < kWebhookKinds; ++k) {
        if (kind != kKindNames[k]) continue;
        Webhook webhook{static_cast<WebhookKind>(k), std::string(option.substr(colon + 1))};
        bool plain = std::none_of(webhook.url.begin(), webhook.url.end(),
                                  [](char c) { return c == ' ' || isControlByte(c); });
        if (!plain || !webhookHost(webhook.url))
            return {std::nullopt, "--notify needs an http:// or https:// URL after '" +
                                      std::string(kind) + ":'"};
        return {std::move(webhook), {}};
    }
    return {std::nullopt, "--notify takes KIND:URL, KIND one of discord, slack, json"};
}

std::string notificationBody(WebhookKind kind, const std::vector<Announcement>& races,
                             std::int64_t now) {
    constexpr auto replace = nlohmann::json::error_handler_t::replace;
    switch (kind) {
    case WebhookKind::Discord: {
        nlohmann::ordered_json body{{"content", messageText(races, false)},
                                    {"allowed_mentions", {{"parse", nlohmann::json::array()}}}};
        return body.dump(-1, ' ', false, replace);
    }
    case WebhookKind::Slack:
        return nlohmann::ordered_json{{"text", messageText(races, true)}}.dump(-1, ' ', false, replace);
    default: {
        std::vector<GameRaces> games;
        for (const Announcement& a : races) {
            auto game = std::find_if(games.begin(), games.end(),
                                     [&](const GameRaces& g) { return g.game == a.game; });
            if (game == games.end()) game = games.insert(games.end(), GameRaces{a.game, {}});
            game->races.push_back(a.race);
        }
        return renderRacesJson(games, now, "race_announced");
    }
    }
}

bool RepeatFilter::admit(const std::string& game, std::uint32_t ip, std::int64_t now) {
    std::erase_if(seen_, [now](const Seen& s) { return now - s.at >= kWindowSeconds; });
    for (Seen& s : seen_)
        if (s.game == game && s.ip == ip) {
            s.at = now;  // a host that keeps coming back stays one race
            return false;
        }
    seen_.push_back(Seen{game, ip, now});
    return true;
}

struct Notifier::Impl {
    struct Hook {
        Webhook webhook;
        std::string label;  // kind and host: the URL's path may hold the webhook's secret
        CURL* easy = nullptr;
        std::deque<Announcement> pending;  // guarded by mutex
        Clock::time_point since;           // when pending last became non-empty; mutex
        // The notifier's thread alone:
        bool busy = false;
        std::vector<Announcement> batch;
        std::string body;
        Clock::time_point notBefore;
        int failures = 0;
        char error[CURL_ERROR_SIZE] = {};
    };

    NotifierTiming timing;
    std::function<void(const std::string&)> log;
    std::function<std::int64_t()> clock;
    std::string caBlob;
    curl_slist* headers = nullptr;
    CURLM* multi = nullptr;
    std::vector<std::unique_ptr<Hook>> hooks;
    std::mutex mutex;
    RepeatFilter repeats;  // mutex
    std::array<std::array<std::atomic<std::uint64_t>, 3>, kWebhookKinds> counts{};  // sent, failed, dropped
    std::atomic<bool> stopping{false};

    enum Count { Sent, Failed, Dropped };
    void add(const Hook& hook, Count which, std::size_t n) {
        counts[static_cast<std::size_t>(hook.webhook.kind)][which] += n;
    }

    // Under mutex. Keeps the newest queueLimit races.
    void trim(Hook& hook) {
        while (hook.pending.size() > timing.queueLimit) {
            hook.pending.pop_front();
            add(hook, Dropped, 1);
        }
    }

    void setUp(Hook& hook) {
        hook.easy = curl_easy_init();
        if (!hook.easy) throw NotifyError("cannot set up a webhook client");
        CURL* e = hook.easy;
        curl_easy_setopt(e, CURLOPT_URL, hook.webhook.url.c_str());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(e, CURLOPT_USERAGENT, "kestrun-lobby");
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(timing.timeout.count()));
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timing.timeout.count()));
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, hook.error);
        curl_easy_setopt(e, CURLOPT_PRIVATE, &hook);
        // The answer's body is of no use; it is read and let go.
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION,
                         +[](char*, size_t size, size_t count, void*) { return size * count; });
        if (!caBlob.empty()) {
            curl_blob blob{caBlob.data(), caBlob.size(), CURL_BLOB_COPY};
            curl_easy_setopt(e, CURLOPT_CAINFO_BLOB, &blob);
        }
    }

    // Starts the posts that are due; gives how long until the next one may be.
    std::chrono::milliseconds startDue() {
        auto now = Clock::now();
        auto wait = std::chrono::milliseconds(60000);  // announce() and the end wake it anyway
        std::vector<Hook*> starting;
        {
            std::lock_guard lock(mutex);
            for (auto& hook : hooks) {
                if (hook->busy || hook->pending.empty()) continue;
                auto due = std::max(hook->since + timing.gather, hook->notBefore);
                if (now < due) {
                    wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(due - now));
                    continue;
                }
                std::size_t n = std::min(hook->pending.size(), timing.perMessage);
                hook->batch.assign(std::make_move_iterator(hook->pending.begin()),
                                   std::make_move_iterator(hook->pending.begin() + static_cast<std::ptrdiff_t>(n)));
                hook->pending.erase(hook->pending.begin(), hook->pending.begin() + static_cast<std::ptrdiff_t>(n));
                hook->since = now;
                starting.push_back(hook.get());
            }
        }
        for (Hook* hook : starting) {
            hook->body = notificationBody(hook->webhook.kind, hook->batch, clock());
            curl_easy_setopt(hook->easy, CURLOPT_POSTFIELDS, hook->body.data());
            curl_easy_setopt(hook->easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(hook->body.size()));
            hook->error[0] = '\0';
            hook->busy = true;
            curl_multi_add_handle(multi, hook->easy);
            wait = std::chrono::milliseconds(0);
        }
        return wait;
    }

    void finished(Hook& hook, CURLcode result) {
        long status = 0;
        curl_off_t retryAfter = 0;
        curl_easy_getinfo(hook.easy, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(hook.easy, CURLINFO_RETRY_AFTER, &retryAfter);
        curl_multi_remove_handle(multi, hook.easy);
        hook.busy = false;
        auto now = Clock::now();
        hook.notBefore = now + timing.interval;
        if (result == CURLE_OK && status >= 200 && status < 300) {
            add(hook, Sent, hook.batch.size());
            hook.failures = 0;
            hook.batch.clear();
            return;
        }
        std::string why;
        bool again = true;
        std::chrono::milliseconds delay = timing.backoff * (1 << std::min(hook.failures, 10));
        if (result != CURLE_OK) {
            why = hook.error[0] ? hook.error : curl_easy_strerror(result);
            ++hook.failures;
        } else if (status == 429) {
            // The service says when; that is no failure of ours.
            if (retryAfter > 0)
                delay = std::min<std::chrono::milliseconds>(std::chrono::seconds(retryAfter),
                                                            timing.maxRetryAfter);
        } else {
            why = "HTTP " + std::to_string(status);
            again = status >= 500 || status == 408;
            ++hook.failures;
        }
        if (again && hook.failures < timing.attempts) {
            hook.notBefore = now + std::max(delay, timing.interval);
            std::lock_guard lock(mutex);
            if (hook.pending.empty()) hook.since = now;
            hook.pending.insert(hook.pending.begin(), std::make_move_iterator(hook.batch.begin()),
                                std::make_move_iterator(hook.batch.end()));
            trim(hook);
        } else {
            add(hook, Failed, hook.batch.size());
            if (log)
                log(hook.label + ": gave up on " + std::to_string(hook.batch.size()) +
                    (hook.batch.size() == 1 ? " race" : " races") + " after " +
                    std::to_string(hook.failures) + (hook.failures == 1 ? " try: " : " tries: ") + why);
            hook.failures = 0;
        }
        hook.batch.clear();
    }

    void loop() {
        while (!stopping) {
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
                if (msg->msg != CURLMSG_DONE) continue;
                Hook* hook = nullptr;
                curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &hook);
                finished(*hook, msg->data.result);
            }
            auto wait = startDue();
            if (wait.count() > 0 && !stopping)
                curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
        }
    }

    ~Impl() {
        for (auto& hook : hooks) {
            if (hook->busy) curl_multi_remove_handle(multi, hook->easy);
            if (hook->easy) curl_easy_cleanup(hook->easy);
        }
        if (multi) curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
    }
};

namespace {

// The system's bundle and the file's certificates together: the blob replaces the bundle
// that curl would otherwise read, and public webhooks must keep working.
std::string trustedCertificates(const std::string& caFile) {
    auto read = readFile(caFile);
    if (!read) throw NotifyError("--notify-ca: cannot read " + caFile);
    std::string extra = std::move(*read);
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(extra.data(), static_cast<int>(extra.size())), BIO_free);
    X509* first = bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr;
    ERR_clear_error();
    if (!first) throw NotifyError("--notify-ca: " + caFile + " holds no PEM certificate");
    X509_free(first);
    std::string blob;
    const char* bundle = curl_version_info(CURLVERSION_NOW)->cainfo;
    if (bundle) blob = readFile(bundle).value_or("");
    return blob + "\n" + extra;
}

}  // namespace

Notifier::Notifier(std::vector<Webhook> webhooks, const std::string& caFile,
                   std::function<void(const std::string&)> log, std::function<std::int64_t()> clock,
                   NotifierTiming timing)
    : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    d.timing = timing;
    d.log = std::move(log);
    d.clock = std::move(clock);
    if (!caFile.empty()) d.caBlob = trustedCertificates(caFile);
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw NotifyError("cannot set up libcurl");
    d.headers = curl_slist_append(nullptr, "Content-Type: application/json");
    d.multi = curl_multi_init();
    if (!d.headers || !d.multi) throw NotifyError("cannot set up libcurl");
    for (Webhook& webhook : webhooks) {
        auto hook = std::make_unique<Impl::Hook>();
        hook->label = std::string(kindName(webhook.kind)) + " webhook at " +
                      webhookHost(webhook.url).value_or("?");
        hook->webhook = std::move(webhook);
        d.setUp(*hook);
        d.hooks.push_back(std::move(hook));
    }
}

Notifier::~Notifier() = default;

void Notifier::run() { impl_->loop(); }

void Notifier::stop() {
    impl_->stopping = true;
    curl_multi_wakeup(impl_->multi);
}

void Notifier::announce(const std::string& game, const Race& race) {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mutex);
        if (!d.repeats.admit(game, race.ip, race.created)) return;
        auto now = Clock::now();
        for (auto& hook : d.hooks) {
            if (hook->pending.empty()) hook->since = now;
            hook->pending.push_back(Announcement{game, race});
            d.trim(*hook);
        }
    }
    curl_multi_wakeup(d.multi);
}

std::array<NotificationCounts, kWebhookKinds> Notifier::counts() const {
    std::array<NotificationCounts, kWebhookKinds> out;
    for (std::size_t k = 0; k < kWebhookKinds; ++k)
        out[k] = {impl_->counts[k][Impl::Sent], impl_->counts[k][Impl::Failed],
                  impl_->counts[k][Impl::Dropped]};
    return out;
}

}  // namespace lobby
