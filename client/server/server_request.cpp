// The request engine. The journey of one request:
//  send (UI thread)  A PendingRequest enters the in-flight table under a fresh context value;
//                    InternetOpenUrlA starts the GET and returns at once.
//  Opening           WinINet's threads call statusCallback with that context. Each handle it
//                    creates gets the engine's timeouts; REQUEST_COMPLETE brings the URL
//                    handle, whose status must be 200.
//  Redirecting       A redirect closes the URL handle, whose HANDLE_CLOSING opens the next
//                    address (Opening again); hop kMaxRedirects + 1 fails the request.
//  Reading           InternetReadFile until the body ends; a read that goes asynchronous
//                    comes back as another REQUEST_COMPLETE.
//  Finished          The one Completion (the body or the error text) is posted, owned, in
//                    WM_SERVER_COMPLETION's lParam to the delivery window (freed at once if the
//                    post fails), and the URL handle is closed.
//  delivery (UI)     deliverServerCompletion hands the Completion to its listener unless the
//                    engine is gone, and frees it.
//  HANDLE_CLOSING    WinINet's last call for the URL handle: only now may the record leave the
//                    table, since until then WinINet may still write into its buffer.
// The table's mutex is never held across a WinINet call (WinINet calls back holding its own
// locks). A request's handle is used only inside its own callbacks, where WinINet holds a
// reference to it; callbacks of one request never run concurrently.
#include "server/server_request.h"

#include <wininet.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>

#include "common/error_text.h"
#include "common/site.h"
#include "games/wire_text.h"
#include "server/request_url.h"

// What an engine shares with its requests. It outlives the engine while requests still run;
// `alive`, written on the UI thread, tells them and the posted completions that it is gone.
struct EngineCore {
    HINTERNET root = nullptr;  // owned by the engine; closed once it is gone
    DWORD timeoutMs = 0;
    std::atomic<bool> alive{true};
    std::atomic<HWND> window{nullptr};
    // Guarded by the in-flight table's mutex: requests still inside InternetOpenUrl, and the
    // root handle of a destroyed engine that waits for them (see ~ServerRequest).
    int opening = 0;
    HINTERNET orphanedRoot = nullptr;
};

namespace {

constexpr const char* kAgent = "Kestrun Client";
// The engine follows redirects itself: Wine's WinINet follows them without end, and closing
// the handle from its REDIRECT notification does not stop it. Windows stops after a few too.
constexpr DWORD kOpenFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT;
constexpr int kMaxRedirects = 10;
constexpr DWORD kReadChunk = 1024;

// The outcome of one request on its way to the UI thread, owned by the posted message.
struct Completion {
    std::weak_ptr<EngineCore> engine;
    ServerListener* listener = nullptr;
    std::string action;
    std::string body;                  // the answer, when there is no error
    std::optional<std::string> error;  // the text for the user when the request failed
};

enum class Phase { Opening, Reading, Redirecting, Finished };

std::atomic<std::size_t> liveRequests{0};

struct PendingRequest {
    std::uint64_t context = 0;
    ServerListener* listener = nullptr;
    std::shared_ptr<EngineCore> engine;
    std::string action;
    std::string url;  // the address being opened
    Phase phase = Phase::Opening;
    bool insideOpen = false;  // counted in engine->opening while InternetOpenUrl works for it
    int redirects = 0;
    HINTERNET handle = nullptr;  // the URL handle, taken from the completion notification
    bool handleOpen = false;     // until its HANDLE_CLOSING: WinINet may still write into `buffer`
    char buffer[kReadChunk + 1];
    DWORD bytesRead = 0;  // written by WinINet when an asynchronous read completes
    std::string body;

    PendingRequest() { ++liveRequests; }
    ~PendingRequest() { --liveRequests; }
};

// Every request in flight, by its WinINet context value.
struct InFlightTable {
    std::mutex mutex;
    std::map<std::uint64_t, std::shared_ptr<PendingRequest>> requests;
    std::uint64_t nextContext = 1;
};

// Never destroyed: WinINet threads may still call in while the process exits.
InFlightTable& inFlight() {
    static InFlightTable* table = new InFlightTable;
    return *table;
}

// InternetOpenUrl's work for this request is over; a destroyed engine's root can close once
// no request of it is left inside.
void leaveOpening(PendingRequest& r) {
    if (!std::exchange(r.insideOpen, false)) return;
    HINTERNET root = nullptr;
    {
        std::lock_guard lock(inFlight().mutex);
        if (--r.engine->opening == 0) root = std::exchange(r.engine->orphanedRoot, nullptr);
    }
    if (root != nullptr) InternetCloseHandle(root);
}

// Opens r.url under the engine's root; false when that failed at once (nothing will call
// back) or the engine is gone.
bool open(PendingRequest& r) {
    HINTERNET root;
    {
        std::lock_guard lock(inFlight().mutex);
        if (!r.engine->alive) return false;
        root = r.engine->root;
        ++r.engine->opening;
        r.insideOpen = true;
    }
    r.phase = Phase::Opening;
    HINTERNET immediate = InternetOpenUrlA(root, r.url.c_str(), nullptr, 0, kOpenFlags, r.context);
    // A handle returned at once also arrives with the completion notification.
    if (immediate != nullptr || GetLastError() == ERROR_IO_PENDING) return true;
    leaveOpening(r);
    return false;
}

std::shared_ptr<PendingRequest> findRequest(std::uint64_t context) {
    auto& table = inFlight();
    std::lock_guard lock(table.mutex);
    auto it = table.requests.find(context);
    return it == table.requests.end() ? nullptr : it->second;
}

void releaseIfDone(const PendingRequest& r) {
    if (r.phase != Phase::Finished || r.handleOpen) return;
    auto& table = inFlight();
    std::lock_guard lock(table.mutex);
    table.requests.erase(r.context);
}

// Ends a request with its one outcome (none once the engine is gone) and closes its handle.
// An error of std::nullopt is success: the body read so far is the answer.
void finish(PendingRequest& r, std::optional<std::string> error) {
    r.phase = Phase::Finished;
    HWND window = r.engine->window.load();
    if (r.engine->alive && window != nullptr) {
        auto completion = std::make_unique<Completion>(
            Completion{r.engine, r.listener, r.action, error ? std::string() : std::move(r.body), std::move(error)});
        if (PostMessageA(window, WM_SERVER_COMPLETION, 0, reinterpret_cast<LPARAM>(completion.get())))
            completion.release();  // the message owns it now
    }
    std::string().swap(r.body);
    if (r.handleOpen) InternetCloseHandle(r.handle);  // may report HANDLE_CLOSING at once
    releaseIfDone(r);
}

bool isRedirect(DWORD code) { return code == 301 || code == 302 || code == 303 || code == 307 || code == 308; }

// The next address, or empty when the answer names none.
std::string redirectTarget(const PendingRequest& r) {
    char location[2048] = {};
    DWORD length = sizeof location - 1;
    if (!HttpQueryInfoA(r.handle, HTTP_QUERY_LOCATION, location, &length, nullptr)) return {};
    char combined[2048] = {};
    DWORD combinedLength = sizeof combined;
    if (!InternetCombineUrlA(r.url.c_str(), location, combined, &combinedLength, ICU_NO_ENCODE)) return {};
    return std::string(combined, strnlen(combined, sizeof combined));
}

// Closes the redirecting answer's handle; its HANDLE_CLOSING opens the next address.
void redirect(PendingRequest& r) {
    std::string next = ++r.redirects > kMaxRedirects ? std::string() : redirectTarget(r);
    if (next.empty()) return finish(r, "Error completing server request.");
    r.url = std::move(next);
    r.phase = Phase::Redirecting;
    InternetCloseHandle(r.handle);  // may report HANDLE_CLOSING at once
}

// Appends one chunk; a zero byte ends the chunk's text. False when the request ended.
bool append(PendingRequest& r, DWORD count) {
    r.buffer[count] = '\0';
    std::size_t length = strnlen(r.buffer, count);
    if (r.body.size() + length > ServerRequest::kMaxBodyBytes) {
        finish(r, "Error reading server response.");
        return false;
    }
    r.body.append(r.buffer, length);
    return true;
}

// Reads until the body ends, an error occurs, or WinINet goes asynchronous; in the last case
// the read completes through the status callback, which calls back here.
void readBody(PendingRequest& r) {
    for (;;) {
        r.bytesRead = 0;
        if (InternetReadFile(r.handle, r.buffer, kReadChunk, &r.bytesRead)) {
            if (r.bytesRead == 0) return finish(r, std::nullopt);
            if (!append(r, r.bytesRead)) return;
            continue;
        }
        if (GetLastError() == ERROR_IO_PENDING) return;
        return finish(r, "Error reading server response.");
    }
}

void onRequestComplete(PendingRequest& r, const INTERNET_ASYNC_RESULT& result) {
    const bool failed = result.dwError != 0 || result.dwResult == 0;
    if (r.phase == Phase::Opening) {
        leaveOpening(r);
        if (failed) return finish(r, "Error completing server request.");
        r.handle = reinterpret_cast<HINTERNET>(result.dwResult);
        r.handleOpen = true;
        r.phase = Phase::Reading;
        if (!r.engine->alive) return finish(r, std::nullopt);  // nothing more to read for
        DWORD code = 0;
        DWORD size = sizeof code;
        if (!HttpQueryInfoA(r.handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr))
            return finish(r, "Error retrieving request status.");
        if (isRedirect(code)) return redirect(r);
        if (code != 200) return finish(r, "Error retrieving server response: " + formatDecimal(code));
        return readBody(r);
    }
    if (r.phase != Phase::Reading) return;
    if (!r.engine->alive) return finish(r, std::nullopt);
    if (failed) return finish(r, "Error reading server response.");
    if (r.bytesRead == 0) return finish(r, std::nullopt);
    if (append(r, r.bytesRead)) readBody(r);
}

void CALLBACK statusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength) {
    if (status != INTERNET_STATUS_REQUEST_COMPLETE && status != INTERNET_STATUS_HANDLE_CLOSING &&
        status != INTERNET_STATUS_HANDLE_CREATED)
        return;
    std::shared_ptr<PendingRequest> r = findRequest(context);  // keeps the record while we work
    if (!r) return;

    switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED:
        // Some WinINet builds (Wine's) don't pass the root's send and receive timeouts on to
        // the handles that InternetOpenUrl makes, so give them to each new handle too.
        if (info != nullptr && infoLength >= sizeof(HINTERNET) && r->phase == Phase::Opening) {
            HINTERNET created = *static_cast<const HINTERNET*>(info);
            DWORD timeout = r->engine->timeoutMs;
            for (DWORD option : {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
                InternetSetOptionA(created, option, &timeout, sizeof timeout);
        }
        return;
    case INTERNET_STATUS_HANDLE_CLOSING:
        // The connection handle that InternetOpenUrl makes internally shares our context; only
        // the URL handle's own closing counts.
        if (r->handleOpen && handle == r->handle) {
            r->handleOpen = false;
            if (r->phase != Phase::Redirecting) return releaseIfDone(*r);
            // Once open() has started, the request's next callbacks may already be running.
            if (!open(*r)) finish(*r, "Error connecting to server.");
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
    std::unique_ptr<Completion> completion(reinterpret_cast<Completion*>(lParam));
    auto core = completion->engine.lock();
    if (!core || !core->alive) return;
    ServerListener& listener = *completion->listener;
    if (completion->error) return listener.reportError(*completion->error);
    try {
        listener.handleResponse(completion->action, completion->body);
    } catch (const ErrorText& e) {
        // The handler may have run a modal loop in which the engine and its listener went.
        if (core->alive) listener.reportError(e.text);
    }
}

std::string ServerRequest::defaultBaseUrl() { return siteUrl() + kServerScriptPath; }

ServerRequest::ServerRequest() : ServerRequest(defaultBaseUrl()) {}

ServerRequest::ServerRequest(std::string baseUrl, DWORD timeoutMs)
    : baseUrl_(std::move(baseUrl)), core_(std::make_shared<EngineCore>()) {
    core_->timeoutMs = timeoutMs;
    internet_.reset(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC));
    if (!internet_) throw ErrorText("Error creating internet connection.");
    core_->root = internet_.get();
    if (InternetSetStatusCallback(internet_.get(), statusCallback) == INTERNET_INVALID_STATUS_CALLBACK) {
        internet_.reset();
        throw ErrorText("Error setting server callback function.");
    }
    // A lobby that accepts the connection and never answers must not hold a request forever.
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        InternetSetOptionA(internet_.get(), option, &timeoutMs, sizeof timeoutMs);
}

ServerRequest::~ServerRequest() {
    core_->alive = false;
    {
        std::lock_guard lock(inFlight().mutex);
        // WinINet (Wine's at least) frees a handle that InternetOpenUrl is still setting up if
        // its root closes meanwhile, and then hangs. So the root of an engine with requests
        // still opening is closed by the last of them, on its WinINet thread.
        if (core_->opening > 0) core_->orphanedRoot = internet_.release();
    }
    // Closing the root closes every handle beneath it; requests still running then end in
    // their own callbacks, which see the engine gone and post nothing.
    internet_.reset();
}

void ServerRequest::setDeliveryWindow(HWND window) { core_->window = window; }

void ServerRequest::send(ServerListener* listener, const std::string& action, const std::string& game,
                         const std::string& data) {
    // Without a window its outcome would go nowhere, and its listener would wait for ever.
    if (core_->window.load() == nullptr) throw std::logic_error("ServerRequest::send without a delivery window");
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
    {
        auto& table = inFlight();
        std::lock_guard lock(table.mutex);
        r->context = table.nextContext++;
        table.requests[r->context] = r;
    }
    if (open(*r)) return;
    r->phase = Phase::Finished;
    releaseIfDone(*r);
    listener->reportError("Error connecting to server.");
}

std::string ServerRequest::agent() const { return kAgent; }

std::size_t ServerRequest::requestsAlive() { return liveRequests.load(); }
