// kestrun-lobby's command line.
#include <gtest/gtest.h>

#include "daemon/options.h"

namespace {

using namespace lobby;

TEST(LobbyOptions, ValuesAreTakenInBothForms) {
    auto parsed = parseCommandLine({"--listen", "[::]:9000", "--db=/tmp/x.db", "--race-ttl", "5",
                                    "--max-races=7", "--rate-limit", "0", "--max-query", "100",
                                    "--threads", "3", "--trusted-proxy", "10.0.0.1",
                                    "--proxy-header", "X-Real-IP", "--client-url",
                                    "https://example.org/kestrun", "--sweep-seconds", "2",
                                    "--history-days", "7",
                                    "--notify", "discord:https://chat.example.org/a",
                                    "--notify=json:http://bot.example.org/", "--notify-ca", "ca.pem",
                                    "--probe", "off", "--probe-allow", "10.0.0.0/8",
                                    "--probe-allow=192.168.1.7", "--probe-listen", "[::]:2400",
                                    "--probe-app", "NFS5={A052A50B-FFE0-CF11-9C4E-00A0C905425E}",
                                    "--withdraw-silent", "20"});
    ASSERT_TRUE(parsed.commandLine) << parsed.error;
    const LobbyConfig& c = parsed.commandLine->config;
    EXPECT_EQ(c.host, "::");
    EXPECT_EQ(c.port, 9000);
    EXPECT_EQ(c.dbPath, "/tmp/x.db");
    EXPECT_EQ(c.raceTtlSeconds, 300);
    EXPECT_EQ(c.maxRaces, 7u);
    EXPECT_EQ(c.rateLimit, 0);
    EXPECT_EQ(c.maxQuery, 100u);
    EXPECT_EQ(c.threads, 3);
    EXPECT_EQ(c.trustedProxy, "10.0.0.1");
    EXPECT_EQ(c.proxyHeader, "X-Real-IP");
    EXPECT_EQ(c.clientUrl, "https://example.org/kestrun");
    EXPECT_EQ(c.sweepInterval, std::chrono::seconds(2));
    EXPECT_EQ(c.historyDays, 7);
    ASSERT_EQ(c.notify.size(), 2u);
    EXPECT_EQ(c.notify[0].kind, WebhookKind::Discord);
    EXPECT_EQ(c.notify[1].url, "http://bot.example.org/");
    EXPECT_EQ(c.notifyCa, "ca.pem");
    EXPECT_FALSE(c.probe.enabled);
    ASSERT_EQ(c.probe.allowed.size(), 2u);
    EXPECT_EQ(c.probe.allowed[1].base, 0xC0A80107u);
    EXPECT_EQ(c.probe.listenHost + ":" + std::to_string(c.probe.listenPort), ":::2400");
    EXPECT_EQ(c.probe.applications[1]->front(), 0x0b);  // Data1 little-endian
    EXPECT_EQ(c.probe.timings.withdrawSilent, std::chrono::minutes(20));
}

TEST(LobbyOptions, BadValuesAreRefusedWithTheOptionNamed) {
    std::vector<std::vector<std::string>> cases = {
        {"--listen", "8080"},          {"--listen", "host:"},       {"--listen", ":80"},
        {"--listen", "h:65536"},       {"--listen", "h:-1"},        {"--race-ttl", "0"},
        {"--race-ttl", "1e3"},         {"--max-races", "0"},        {"--threads", "9999"},
        {"--max-query", "10"},         {"--trusted-proxy", "proxy"}, {"--proxy-header", "X Y"},
        {"--client-url", "javascript:alert(1)"}, {"--client-url", "http://a b"},
        {"--db", ""},                  {"--db"},                    {"--bogus", "1"},
        {"seed", "--races", "763"},    {"seed", "--game", "NFS6"},  {"seed", "--listen", "h:1"},
        {"--metrics", "public"},       {"remove", "--ip", "1.2.3"}, {"remove", "--ip", "::1"},
        {"remove", "--ip", "01.2.3.4"}, {"races", "--listen", "h:1"},
        {"--notify", "teams:https://chat.example.org/"}, {"--notify-ca", ""},
        {"--probe", "yes"},            {"--probe-allow", "10.0.0.1/8"}, {"--probe-allow", "10/8"},
        {"--probe-listen", "0.0.0.0"}, {"--probe-app", "NFS6={A052A50B-FFE0-CF11-9C4E-00A0C905425E}"},
        {"--probe-app", "NFS4=A052A50B"}, {"--withdraw-silent", "0"},
    };
    for (const auto& args : cases) {
        auto parsed = parseCommandLine(args);
        EXPECT_FALSE(parsed.commandLine) << args[0];
        bool sub = args[0] == "seed" || args[0] == "remove" || args[0] == "races";
        EXPECT_NE(parsed.error.find(sub ? args[1] : args[0]), std::string::npos)
            << parsed.error;
    }
}

TEST(LobbyOptions, RemoveNeedsGameAndAddress) {
    auto parsed = parseCommandLine({"remove", "--game", "NFS5", "--ip", "192.0.2.7"});
    ASSERT_TRUE(parsed.commandLine) << parsed.error;
    EXPECT_EQ(parsed.commandLine->mode, CommandLine::Mode::Remove);
    EXPECT_EQ(parsed.commandLine->removeIp, 0xC0000207u);
    for (std::vector<std::string> args : {std::vector<std::string>{"remove", "--game", "NFS4"},
                                          {"remove", "--ip", "192.0.2.7"}})
        EXPECT_NE(parseCommandLine(args).error.find("remove needs"), std::string::npos);
}

}  // namespace
