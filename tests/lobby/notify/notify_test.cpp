// What the lobby posts to chat webhooks, and which announcements it leaves out.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "fake_clock.h"
#include "notify/notify.h"

namespace {

using namespace lobby;
using nlohmann::json;

const std::int64_t kNow = kStart;
const Announcement kSunday{"NFS4", Race{"__Sunday__ cup", 3405803781u, kNow}};  // 203.0.113.5

TEST(LobbyNotify, ChatPostsShowNamesAsPlainTextAndPingNobody) {
    json discord = json::parse(notificationBody(WebhookKind::Discord, {kSunday}, kNow));
    std::string content = discord.at("content");
    EXPECT_NE(content.find(R"(\_\_Sunday\_\_ cup)"), std::string::npos) << content;
    for (const char* part : {"NFS4", "`203.0.113.5`", "TCP/IP", "type 203.0.113.5"})
        EXPECT_NE(content.find(part), std::string::npos) << part << " in " << content;
    EXPECT_EQ(discord.at("allowed_mentions"), json::parse(R"({"parse":[]})"));

    Announcement loud{"NFS5", Race{"<!channel> & `x` *y*", 16909060u, kNow}};
    std::string text = json::parse(notificationBody(WebhookKind::Slack, {kSunday, loud}, kNow)).at("text");
    for (const char* part : {"2 new races", "`__Sunday__ cup`", "`&lt;!channel&gt; &amp; 'x' *y*`",
                             "`1.2.3.4`", "NFS5", "TCP/IP"})
        EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
    EXPECT_EQ(text.find("<!"), std::string::npos) << text;
    EXPECT_EQ(escapeDiscord("@everyone [a](b)\n"), R"(\@everyone \[a\]\(b\)?)");
}

TEST(LobbyNotify, JsonPostIsTheRaceAsTheFeedShowsItWithTheEvent) {
    json body = json::parse(notificationBody(WebhookKind::Json, {kSunday}, kNow + 5));
    EXPECT_EQ(body.at("event"), "race_announced");
    EXPECT_EQ(body.at("server_time"), kNow + 5);
    EXPECT_EQ(body.at("races"), json::parse(R"({"NFS4":[{"name":"__Sunday__ cup",
        "host":"203.0.113.5","created":1007000000,"created_utc":"2001-11-29T02:13:20Z"}]})"));
}

TEST(LobbyNotify, WebhookSpecsNeedAKnownKindAndAnHttpUrl) {
    auto good = parseWebhook("slack:https://hooks.example.org/services/T/B/x");
    ASSERT_TRUE(good.webhook) << good.error;
    EXPECT_EQ(good.webhook->kind, WebhookKind::Slack);
    EXPECT_EQ(good.webhook->url, "https://hooks.example.org/services/T/B/x");
    ASSERT_TRUE(parseWebhook("json:http://127.0.0.1:9/x").webhook);
    for (const char* bad : {"", "discord", "teams:https://example.org/", "discord:",
                            "discord:ftp://example.org/", "json:file:///etc/passwd",
                            "json:http://", "slack:https://example.org/a b", "https://example.org/"})
        EXPECT_FALSE(parseWebhook(bad).webhook) << bad;
}

TEST(LobbyNotify, AHostComingBackWithinTenMinutesIsNotNews) {
    RepeatFilter filter;
    EXPECT_TRUE(filter.admit("NFS4", 1, kNow));
    EXPECT_TRUE(filter.admit("NFS5", 1, kNow));  // another game is another race
    EXPECT_TRUE(filter.admit("NFS4", 2, kNow));
    EXPECT_FALSE(filter.admit("NFS4", 1, kNow + 60));
    EXPECT_FALSE(filter.admit("NFS4", 1, kNow + 60 + 599));  // counted from the last visit
    EXPECT_TRUE(filter.admit("NFS4", 1, kNow + 60 + 599 + 600));
}

}  // namespace
