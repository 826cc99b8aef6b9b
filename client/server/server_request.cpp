#include "server/server_request.h"

#include <wininet.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <vector>

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
    std::atomic<bool> alive{true};
    std::atomic<HWND> window{nullptr};
    std::mutex mailboxMutex;
    std::deque<Outcome> mailbox;
    std::uint64_t nextSeq = 0;
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
    bool handleSeen = false;
    std::set<HINTERNET> openHandles;  // WinINet handles made for this request, not yet closed
    char buffer[kReadChunk + 1];
    DWORD bytesRead = 0;  // written by WinINet when an asynchronous read completes
    std::string body;

    PendingRequest() { ++liveRequests; }
    ~PendingRequest() { --liveRequests; }
    PendingRequest(const PendingRequest&) = delete;
    PendingRequest& operator=(const PendingRequest&) = delete;
};

// Every request in flight, by its WinINet context value. All WinINet calls on request
// handles happen under `mutex`: a handle stays in `openHandles` until its HANDLE_CLOSING
// arrives, and WinINet reuses a handle value only after that, so a handle we still list
// can never be somebody else's. Recursive, because closing a handle calls back at once.
struct Registry {
    std::recursive_mutex mutex;
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

void releaseIfDone(PendingRequest& r) {
    if (!r.openHandles.empty()) return;
    if (r.phase == Phase::Finished || (!r.engine->alive && r.handleSeen)) registry().requests.erase(r.context);
}

void closeOpenHandles(PendingRequest& r) {
    std::vector<HINTERNET> handles(r.openHandles.begin(), r.openHandles.end());
    // Children first: the URL handle before the connection it hangs from.
    for (auto it = handles.rbegin(); it != handles.rend(); ++it) InternetCloseHandle(*it);
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

// Ends a request with its one outcome; caller holds the registry mutex.
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
    closeOpenHandles(r);
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
    if (!r.engine->alive) return finish(r, false, {});
    if (r.phase == Phase::Opening) {
        if (result.dwError != 0 || result.dwResult == 0) return fail(r, "Error completing server request.");
        r.handle = reinterpret_cast<HINTERNET>(result.dwResult);
        r.openHandles.insert(r.handle);
        r.handleSeen = true;
        r.phase = Phase::Reading;
        std::uint32_t code;
        try {
            code = queryStatusCode(r.handle);
        } catch (const ErrorText& e) {
            return finish(r, false, e.text);
        }
        if (code != 200) return finish(r, false, "Error retrieving server response: " + formatDecimal(code));
        return readBody(r);
    }
    if (result.dwError != 0 || result.dwResult == 0) return fail(r, "Error reading server response.");
    if (r.bytesRead == 0) return finish(r, true, std::move(r.body));
    if (append(r, r.bytesRead)) readBody(r);
}

void CALLBACK statusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength) {
    if (context == 0) return;
    if (status != INTERNET_STATUS_REQUEST_COMPLETE && status != INTERNET_STATUS_HANDLE_CREATED &&
        status != INTERNET_STATUS_HANDLE_CLOSING)
        return;
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    auto it = reg.requests.find(context);
    if (it == reg.requests.end()) return;
    std::shared_ptr<PendingRequest> r = it->second;  // keeps the record while we work on it

    switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED:
        r->openHandles.insert(handle);
        r->handleSeen = true;
        if (r->phase == Phase::Finished || !r->engine->alive) {
            InternetCloseHandle(handle);
            releaseIfDone(*r);
        }
        return;
    case INTERNET_STATUS_HANDLE_CLOSING:
        r->openHandles.erase(handle);
        releaseIfDone(*r);
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
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    core_->id = reg.nextEngine++;
    reg.engines[core_->id] = core_;
}

ServerRequest::~ServerRequest() {
    auto& reg = registry();
    {
        std::lock_guard lock(reg.mutex);
        core_->alive = false;
        reg.engines.erase(core_->id);
        // Requests that have not produced a handle yet are dropped when one appears.
        std::vector<std::shared_ptr<PendingRequest>> mine;
        for (auto& [context, r] : reg.requests)
            if (r->engine == core_) mine.push_back(r);
        for (auto& r : mine) {
            closeOpenHandles(*r);
            releaseIfDone(*r);
        }
    }
    // Closing the root also ends every request still opening beneath it.
    internet_.reset();
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
    }
    HINTERNET immediate = InternetOpenUrlA(internet_.get(), r->url.c_str(), nullptr, 0, kOpenFlags, r->context);
    DWORD error = GetLastError();
    if (immediate == nullptr && error != ERROR_IO_PENDING) {
        {
            std::lock_guard lock(reg.mutex);
            r->phase = Phase::Finished;
            closeOpenHandles(*r);
            releaseIfDone(*r);
        }
        listener->reportError("Error connecting to server.");
    }
    // A handle returned at once also arrives with the completion notification.
}

std::size_t ServerRequest::requestsAlive() { return liveRequests.load(); }
