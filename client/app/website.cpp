#include "app/website.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "common/site.h"
#include "server/request_url.h"

namespace {

void openInBrowser(const std::string& url) {
    // No browser, no association: nothing happens, as nothing is promised.
    ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

void openWebsite() { openInBrowser(siteUrl()); }

void openCheckPage() { openInBrowser(composeCheckPageUrl(siteUrl())); }
