#include "server/request_url.h"

std::string composeRequestUrl(const std::string& baseUrl, const std::string& action,
                              const std::string& game, const std::string& data) {
    std::string url = baseUrl + "?action=" + action;
    if (!game.empty()) url += "&game=" + game;
    if (!data.empty()) url += "&data=" + data;
    return url;
}

std::string composeCheckPageUrl(const std::string& siteUrl) { return siteUrl + "check"; }
