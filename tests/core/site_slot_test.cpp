#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "wire/site_slot.h"

namespace {

TEST(SiteUrl, TakesOnlyHttpRootsThatFitTheSlot) {
    const std::string longest = "http://a/" + std::string(kSiteUrlMaxLength - 10, 'b') + "/";
    for (const std::string& good :
         {std::string("http://127.0.0.1:8080/"), std::string("http://lobby.example.org/"),
          std::string("http://[::1]:81/kestrun/"), std::string("http://a-b.example/x%20y/~z/"), longest})
        EXPECT_EQ(siteUrlProblem(good), std::nullopt) << good;
    for (const std::string& bad :
         {std::string("https://lobby.example.org/"), std::string("http://lobby.example.org"),
          std::string("http:///"), std::string("http://-a.example/"), std::string("http://a..b/"),
          std::string("http://a:0/"), std::string("http://a:65536/"), std::string("http://a:/"),
          std::string("http://a b/"), std::string("http://a/x?y=/"), std::string("http://a/%zz/"),
          std::string("http://user@a/"), "http://a/b" + longest.substr(9)})
        EXPECT_NE(siteUrlProblem(bad), std::nullopt) << bad;
}

std::string programWithSlots(int slots, const std::string& url = "http://127.0.0.1:8080/") {
    std::string program(3000, '\x90');
    for (int i = 0; i < slots; ++i) {
        SiteSlot slot{KESTRUN_SITE_SLOT_MARKER, {}};
        std::memcpy(slot.url, url.data(), url.size());
        program.replace(1000 + i * 600, sizeof slot, reinterpret_cast<const char*>(&slot), sizeof slot);
    }
    return program;
}

TEST(SiteSlot, WritesTheAddressAndChangesNothingOutsideTheSlot) {
    const std::string before = programWithSlots(1, std::string(200, 'x'));
    std::string after = before;
    ASSERT_EQ(writeSiteSlot(after, "http://lobby.example.org/"), std::nullopt);
    ASSERT_EQ(after.size(), before.size());
    const std::size_t url = 1000 + kSiteSlotMarkerSize;
    for (std::size_t i = 0; i < before.size(); ++i)
        if (i < url || i >= url + kSiteSlotUrlSize) ASSERT_EQ(after[i], before[i]) << "byte " << i;
    EXPECT_EQ(after.substr(url, kSiteSlotUrlSize),
              "http://lobby.example.org/" + std::string(kSiteSlotUrlSize - 25, '\0'));

    for (int slots : {0, 2}) {
        std::string program = programWithSlots(slots);
        EXPECT_NE(writeSiteSlot(program, "http://lobby.example.org/"), std::nullopt) << slots << " slots";
        EXPECT_EQ(program, programWithSlots(slots));
    }
    std::string cut = programWithSlots(1).substr(0, 1000 + kSiteSlotMarkerSize + 10);
    EXPECT_NE(writeSiteSlot(cut, "http://a/"), std::nullopt);
    std::string program = programWithSlots(1);
    EXPECT_NE(writeSiteSlot(program, "ftp://a/"), std::nullopt);
    EXPECT_EQ(program, programWithSlots(1));
}

}  // namespace
