#include "server/server_request.h"

#include <wininet.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <utility>

#include "common/error_text.h"
#include "common/site.h"
#include "games/wire_text.h"
#include "server/request_url.h"

namespace {

constexpr const char* kAgent = "Kestrun Client";
constexpr DWORD kOpenFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr DWORD kReadChunk = 1024;

struct Outcome {
    std::uint64_t seq = 0;
    ServerListener* listener = nullptr;
    std::string action;
    bool succeeded = false;
    std::string text;  // the body on success, the error text otherwise
};

}  // namespace

// What an engine shares with its requests and posted outcomes. It outlives the engine
// while requests are still running, so late completions find it and see `alive` false.
struct EngineCore {
    std::uint64_t id = 0;
    DWORD timeoutMs = 0;
    std::atomic<bool> alive{true};
    std::atomic<HWND> window{nullptr};
    std::mutex mailboxMutex;
    std::deque<Outcome> mailbox;
    std::uint64_t nextSeq = 0;
    // Guarded by the registry mutex: requests still inside InternetOpenUrl, and the root
    // handle of a destroyed engine that waits for them (see ~ServerRequest).
    int opening = 0;
    HINTERNET orphanedRoot = nullptr;
};

namespace {

enum class Phase { Opening, Reading, Finished };

std::atomic<std::size_t> liveRequests{0};

struct PendingRequest {
    std::uint64_t context = 0;
    ServerListener* listener = nullptr;
    std::shared_ptr<EngineCore> engine;
    HINTERNET handle = nullptr;  // the URL handle, taken from the completion notification
    std::string url;
    std::string action;
    Phase phase = Phase::Opening;
    bool handleOpen = false;  // until HANDLE_CLOSING: WinINet may still write into `buffer`
    char buffer[kReadChunk + 1];
    DWORD bytesRead = 0;  // written by WinINet when an asynchronous read completes
    std::string body;

    PendingRequest() { ++liveRequests; }
    ~PendingRequest() { --liveRequests; }
    PendingRequest(const PendingRequest&) = delete;
    PendingRequest& operator=(const PendingRequest&) = delete;
};

// Every request in flight, by its WinINet context value. The mutex guards the maps only
// and is never held across a WinINet call, since WinINet calls back while holding its own
// locks. WinINet calls on a request's handle are made only from inside that request's own
// callbacks, where WinINet holds a reference to it, so the handle value cannot have been
// freed and reused; callbacks of one request never run concurrently.
struct Registry {
    std::mutex mutex;
    std::map<std::uint64_t, std::shared_ptr<PendingRequest>> requests;
    std::map<std::uint64_t, std::weak_ptr<EngineCore>> engines;
    std::uint64_t nextContext = 1;
    std::uint64_t nextEngine = 1;
};

// Never destroyed: WinINet threads may still call in while the process exits.
Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

// A request has left InternetOpenUrl; a destroyed engine's root can close once none is left.
void openingEnded(EngineCore& core) {
    HINTERNET root = nullptr;
    {
        auto& reg = registry();
        std::lock_guard lock(reg.mutex);
        if (--core.opening == 0) root = std::exchange(core.orphanedRoot, nullptr);
    }
    if (root != nullptr) InternetCloseHandle(root);
}

std::shared_ptr<PendingRequest> findRequest(std::uint64_t context) {
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    auto it = reg.requests.find(context);
    return it == reg.requests.end() ? nullptr : it->second;
}

// The record goes once its outcome is out and WinINet can no longer write into it.
void releaseIfDone(const PendingRequest& r) {
    if (r.phase != Phase::Finished || r.handleOpen) return;
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    reg.requests.erase(r.context);
}

void post(EngineCore& core, Outcome outcome) {
    HWND window = core.window.load();
    if (!core.alive || window == nullptr) return;
    std::uint64_t seq;
    {
        std::lock_guard lock(core.mailboxMutex);
        seq = outcome.seq = core.nextSeq++;
        core.mailbox.push_back(std::move(outcome));
    }
    if (!PostMessageA(window, WM_SERVER_COMPLETION, 0, static_cast<LPARAM>(core.id))) {
        std::lock_guard lock(core.mailboxMutex);
        std::erase_if(core.mailbox, [seq](const Outcome& o) { return o.seq == seq; });
    }
}

// Ends a request with its one outcome (none once the engine is gone) and closes its handle.
void finish(PendingRequest& r, bool succeeded, std::string text) {
    r.phase = Phase::Finished;
    if (r.engine->alive) {
        Outcome outcome;
        outcome.listener = r.listener;
        outcome.action = r.action;
        outcome.succeeded = succeeded;
        outcome.text = std::move(text);
        post(*r.engine, std::move(outcome));
    }
    r.body.clear();
    r.body.shrink_to_fit();
    if (r.handleOpen) InternetCloseHandle(r.handle);  // may report HANDLE_CLOSING at once
    releaseIfDone(r);
}

void fail(PendingRequest& r, const char* text) { finish(r, false, text); }

std::uint32_t queryStatusCode(HINTERNET handle) {
    char text[8] = {};
    DWORD length = sizeof text;
    if (!HttpQueryInfoA(handle, HTTP_QUERY_STATUS_CODE, text, &length, nullptr))
        throw ErrorText("Error retrieving request status.");
    return parseDecimal(std::string_view(text, strnlen(text, sizeof text)));
}

// Appends one chunk; a zero byte ends the chunk's text. False when the request ended.
bool append(PendingRequest& r, DWORD count) {
    r.buffer[count] = '\0';
    std::size_t length = strnlen(r.buffer, count);
    if (r.body.size() + length > ServerRequest::kMaxBodyBytes) {
        fail(r, "Error reading server response.");
        return false;
    }
    r.body.append(r.buffer, length);
    return true;
}

// Reads until the body ends, an error occurs, or WinINet goes asynchronous; in the
// last case the read completes through the status callback, which calls back here.
void readBody(PendingRequest& r) {
    for (;;) {
        r.bytesRead = 0;
        if (InternetReadFile(r.handle, r.buffer, kReadChunk, &r.bytesRead)) {
            if (r.bytesRead == 0) return finish(r, true, std::move(r.body));
            if (!append(r, r.bytesRead)) return;
            continue;
        }
        if (GetLastError() == ERROR_IO_PENDING) return;
        return fail(r, "Error reading server response.");
    }
}

void onRequestComplete(PendingRequest& r, const INTERNET_ASYNC_RESULT& result) {
    if (r.phase == Phase::Finished) return;
    if (r.phase == Phase::Opening) {
        struct OpeningEnds {
            EngineCore& core;
            ~OpeningEnds() { openingEnded(core); }
        } openingEnds{*r.engine};
        if (result.dwError != 0 || result.dwResult == 0) return fail(r, "Error completing server request.");
        r.handle = reinterpret_cast<HINTERNET>(result.dwResult);
        r.handleOpen = true;
        r.phase = Phase::Reading;
        if (!r.engine->alive) return finish(r, false, {});
        std::uint32_t code;
        try {
            code = queryStatusCode(r.handle);
        } catch (const ErrorText& e) {
            return finish(r, false, e.text);
        }
        if (code != 200) return finish(r, false, "Error retrieving server response: " + formatDecimal(code));
        return readBody(r);
    }
    if (!r.engine->alive) return finish(r, false, {});
    if (result.dwError != 0 || result.dwResult == 0) return fail(r, "Error reading server response.");
    if (r.bytesRead == 0) return finish(r, true, std::move(r.body));
    if (append(r, r.bytesRead)) readBody(r);
}

void CALLBACK statusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength) {
    if (context == 0) return;
    if (status != INTERNET_STATUS_REQUEST_COMPLETE && status != INTERNET_STATUS_HANDLE_CLOSING &&
        status != INTERNET_STATUS_HANDLE_CREATED)
        return;
    std::shared_ptr<PendingRequest> r = findRequest(context);  // keeps the record while we work
    if (!r) return;

    switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED:
        // Some WinINet builds (Wine's) don't pass the root's send and receive timeouts on
        // to the handles that InternetOpenUrl makes, so give them to each new handle too.
        if (info != nullptr && infoLength >= sizeof(HINTERNET) && r->phase == Phase::Opening) {
            HINTERNET created = *static_cast<const HINTERNET*>(info);
            DWORD timeout = r->engine->timeoutMs;
            for (DWORD option : {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
                InternetSetOptionA(created, option, &timeout, sizeof timeout);
        }
        return;
    case INTERNET_STATUS_HANDLE_CLOSING:
        // The connection handle that InternetOpenUrl makes internally shares our context;
        // only the URL handle's own closing counts.
        if (r->handleOpen && handle == r->handle) {
            r->handleOpen = false;
            releaseIfDone(*r);
        }
        return;
    default:
        if (info == nullptr || infoLength < sizeof(INTERNET_ASYNC_RESULT)) return;
        onRequestComplete(*r, *static_cast<const INTERNET_ASYNC_RESULT*>(info));
        return;
    }
}

}  // namespace

void deliverServerCompletion(WPARAM, LPARAM lParam) {
    std::shared_ptr<EngineCore> core;
    {
        auto& reg = registry();
        std::lock_guard lock(reg.mutex);
        auto it = reg.engines.find(static_cast<std::uint64_t>(lParam));
        if (it != reg.engines.end()) core = it->second.lock();
    }
    if (!core || !core->alive) return;
    Outcome outcome;
    {
        std::lock_guard lock(core->mailboxMutex);
        if (core->mailbox.empty()) return;
        outcome = std::move(core->mailbox.front());
        core->mailbox.pop_front();
    }
    if (!outcome.succeeded) {
        outcome.listener->reportError(outcome.text);
        return;
    }
    try {
        outcome.listener->handleResponse(outcome.action, outcome.text);
    } catch (const ErrorText& e) {
        // The listener may have gone while its handler ran a modal loop.
        if (core->alive) outcome.listener->reportError(e.text);
    }
}

std::string ServerRequest::defaultBaseUrl() { return std::string(kSiteUrl) + kServerScriptPath; }

ServerRequest::ServerRequest() : ServerRequest(defaultBaseUrl()) {}

ServerRequest::ServerRequest(std::string baseUrl, DWORD timeoutMs)
    : agent_(kAgent), baseUrl_(std::move(baseUrl)) {
    internet_.reset(InternetOpenA(agent_.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC));
    if (!internet_) throw ErrorText("Error creating internet connection.");
    if (InternetSetStatusCallback(internet_.get(), statusCallback) == INTERNET_INVALID_STATUS_CALLBACK) {
        internet_.reset();
        throw ErrorText("Error setting server callback function.");
    }
    // A lobby that accepts the connection and never answers must not hold a request forever.
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        InternetSetOptionA(internet_.get(), option, &timeoutMs, sizeof timeoutMs);

    core_ = std::make_shared<EngineCore>();
    core_->timeoutMs = timeoutMs;
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    core_->id = reg.nextEngine++;
    reg.engines[core_->id] = core_;
}

ServerRequest::~ServerRequest() {
    core_->alive = false;
    bool closeNow;
    {
        auto& reg = registry();
        std::lock_guard lock(reg.mutex);
        reg.engines.erase(core_->id);
        // WinINet (Wine's at least) frees a handle that InternetOpenUrl is still setting up
        // if its root closes meanwhile, and then hangs. So the root of an engine with
        // requests still opening is closed by the last of them, on its WinINet thread.
        closeNow = core_->opening == 0;
        if (!closeNow) core_->orphanedRoot = internet_.release();
    }
    // Closing the root closes every handle beneath it; requests still running then end in
    // their own callbacks, which see the engine gone and deliver nothing.
    if (closeNow) internet_.reset();
}

void ServerRequest::setDeliveryWindow(HWND window) { core_->window = window; }

void ServerRequest::send(ServerListener* listener, const std::string& action) { send(listener, action, {}, {}); }

void ServerRequest::send(ServerListener* listener, const std::string& action, const std::string& game) {
    send(listener, action, game, {});
}

void ServerRequest::send(ServerListener* listener, const std::string& action, const std::string& game,
                         const std::string& data) {
    std::shared_ptr<PendingRequest> r;
    try {
        r = std::make_shared<PendingRequest>();
        r->listener = listener;
        r->engine = core_;
        r->action = action;
        r->url = composeRequestUrl(baseUrl_, action, game, data);
    } catch (const std::bad_alloc&) {
        throw ErrorText("Memory couldn't be allocated.");
    }

    auto& reg = registry();
    {
        std::lock_guard lock(reg.mutex);
        r->context = reg.nextContext++;
        reg.requests[r->context] = r;
        ++core_->opening;
    }
    HINTERNET immediate = InternetOpenUrlA(internet_.get(), r->url.c_str(), nullptr, 0, kOpenFlags, r->context);
    DWORD error = GetLastError();
    if (immediate == nullptr && error != ERROR_IO_PENDING) {
        openingEnded(*core_);
        r->phase = Phase::Finished;
        releaseIfDone(*r);
        listener->reportError("Error connecting to server.");
    }
    // A handle returned at once also arrives with the completion notification.
}

std::size_t ServerRequest::requestsAlive() { return liveRequests.load(); }
