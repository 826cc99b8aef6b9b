#include "common/site.h"

#include "kestrun_site.h"  // generated for each site library
#include "wire/site_slot.h"

namespace {

// Read through volatile so that the compiler never folds the built-in address into the code:
// the bytes of the executable are what counts, however they were written.
__attribute__((used)) volatile const SiteSlot kestrunSiteSlot = {KESTRUN_SITE_SLOT_MARKER, KESTRUN_SITE_URL};

std::string readSlot() {
    std::string url;
    for (std::size_t i = 0; i < kSiteSlotUrlSize - 1 && kestrunSiteSlot.url[i] != '\0'; ++i)
        url += kestrunSiteSlot.url[i];
    return url;
}

}  // namespace

const std::string& siteUrl() {
    static const std::string url = readSlot();
    return url;
}
