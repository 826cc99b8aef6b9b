#include "app/website.h"

#include <windows.h>
#include <shellapi.h>

#include "common/site.h"

void openWebsite() {
    // No browser, no association: nothing happens, as nothing is promised.
    ShellExecuteA(nullptr, "open", siteUrl().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
