#include "common/site.h"

#include "kestrun_site.h"  // generated for each site library

const char* const kSiteUrl = KESTRUN_SITE_URL;
