#include "site/check_page.h"

#include "site/escaping.h"
#include "site/website.h"

namespace lobby {
namespace {

const char* const kForwardPorts =
    "<li>In your router, forward UDP port 47624 and TCP and UDP ports 2300&ndash;2400 to the "
    "computer that hosts.</li>\n";
const char* const kFirewall = "<li>Allow the game in that computer&rsquo;s firewall.</li>\n";
const char* const kPublicAddress =
    "<li>If your router has no public address of its own (the address it shows for the "
    "internet is not the one above, or starts with 100.64 to 100.127: carrier-grade NAT), ask "
    "your provider for a public address.</li>\n";

std::string advice(const Check& check) {
    switch (check.state) {
    case CheckState::Answering:
        return "<p>Players can reach this race. Joining players type its host address into the "
               "game.</p>\n";
    case CheckState::Checking:
        return "<p>The lobby is asking your computer as a joining game would; the answer shows "
               "here when you load this page again.</p>\n";
    case CheckState::NotChecked:
        return "<p>The lobby does not check races from this address.</p>\n";
    case CheckState::NotReachable: break;
    }
    if (check.failedStep == FailedStep::GamePort)
        return "<p>Your computer answered on UDP port 47624, but its game port" +
               (check.gamePort ? " " + std::to_string(check.gamePort) : std::string()) +
               " refused the connection or stayed silent. To let players in:</p>\n<ul>\n" +
               kForwardPorts + kFirewall + "</ul>\n";
    return std::string("<p>The lobby asked your computer on UDP port 47624, as a joining game "
                       "does, and got no answer. To let players in:</p>\n<ul>\n") +
           kForwardPorts + kFirewall + kPublicAddress + "</ul>\n";
}

}  // namespace

std::string renderCheckPage(const PeerAddress& visitor, const std::vector<HostRace>& races,
                            bool probing, CheckAgain asked, std::int64_t now) {
    // A race the prober leaves alone (its address is not probed) cannot be checked again.
    bool checked = false;
    for (const HostRace& race : races) checked = checked || race.check.state != CheckState::NotChecked;
    std::string html = pageStart("Can players reach my race?", "/check") +
                       "<p>The lobby sees your address as <strong>" + escapeHtml(visitor.text) +
                       "</strong>. It lists the races announced from it below, with what it "
                       "found when it asked your computer as a joining game would.</p>\n";
    if (asked == CheckAgain::Started)
        html += "<p role=\"status\">The lobby is checking your races again. Load this page again "
                "in a few seconds for the result.</p>\n";
    else if (asked == CheckAgain::Refused)
        html += "<p role=\"status\">" +
                std::string(!probing ? "Sorry, this lobby does not check races."
                            : checked ? "Sorry, the lobby checks each address at most once every "
                                        "10 seconds. Please wait a moment and try again."
                                      : "Sorry, the lobby does not check races from this address.") +
                "</p>\n";
    if (!visitor.isIpv4)
        html += "<p>That is an IPv6 address: races are announced and joined over IPv4, so the "
                "lobby cannot tell which races are yours from here.</p>\n";
    else if (races.empty())
        html += "<p>No race is announced from this address right now. Announce one with the "
                "Kestrun client, then come back to this page.</p>\n";
    if (!probing)
        html += "<p>This lobby does not check races: every race shows &ldquo;not "
                "checked&rdquo;.</p>\n";
    for (const HostRace& race : races) {
        std::string name = escapeHtml(race.race.name);
        html += "<section>\n<h2>" + escapeHtml(race.game) + ": " + name + "</h2>\n<p>" +
                checkCellHtml(race.check, now) + "</p>\n";
        if (race.check.state == CheckState::Answering && !race.check.session.empty())
            html += "<p>The game calls its session &ldquo;" + escapeHtml(race.check.session) +
                    "&rdquo;.</p>\n";
        html += advice(race.check) + "</section>\n";
    }
    if (checked && probing)
        html += "<form method=\"post\" action=\"/check\"><button type=\"submit\">Check again"
                "</button></form>\n";
    return html + pageEnd("<p class=\"note\">As of " + escapeHtml(utcText(now, "%Y-%m-%d %H:%M:%S")) +
                          " UTC. The lobby asks each race&rsquo;s host again every minute or "
                          "so.</p>");
}

}  // namespace lobby
