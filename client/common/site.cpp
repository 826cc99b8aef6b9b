#include "common/site.h"

#ifndef KESTRUN_SITE_URL
#error "KESTRUN_SITE_URL names the lobby site's root"
#endif

const char* const kSiteUrl = KESTRUN_SITE_URL;
