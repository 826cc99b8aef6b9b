// The clients a lobby makes for its address from the packaged ones: with the real makensis
// and the stand-ins of stand_in_clients.h.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "clients/client_builds.h"
#include "lobby_fixture.h"
#include "read_file.h"
#include "stand_in_clients.h"
#include "wire/site_slot.h"

namespace {

namespace fs = std::filesystem;
using lobby::ClientBuilds;
using lobby::ClientBuildsConfig;
using lobby::makeClientBuilds;


void spit(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

class ClientBuildsTest : public ::testing::Test {
protected:
    TempDir dir;
    ClientBuildsConfig config;

    void SetUp() override {
        writeStandInClients(dir.file("share"));
        config.publicUrl = "http://127.0.0.1:4321/";
        config.clientsDir = dir.file("share");
        config.outDir = dir.file("state/clients");
        config.version = "1.0.0";
        fs::create_directory(dir.file("state"));
    }
    std::string out(const std::string& name) { return dir.file("state/clients/" + name); }
};

bool hasMakensis() { return std::system("command -v makensis >/dev/null") == 0; }

TEST_F(ClientBuildsTest, WritesTheAddressIntoBothClientsAndInstallersWithTheirSums) {
    if (!hasMakensis()) GTEST_SKIP() << "skipped: no makensis (scripts/bootstrap installs nsis)";
    ClientBuilds made = makeClientBuilds(config);
    EXPECT_EQ(made.files, (std::vector<std::string>{"kestrun.exe", "kestrun-x86.exe", "kestrun-setup.exe",
                                                     "kestrun-setup-x86.exe", "SHA256SUMS"}));
    EXPECT_FALSE(made.fromCache);
    EXPECT_TRUE(made.notes.empty()) << made.notes.front();
    std::string expected = standInClient('6');
    ASSERT_EQ(writeSiteSlot(expected, config.publicUrl), std::nullopt);
    EXPECT_EQ(readFile(out("kestrun.exe")), expected);
    EXPECT_GT(fs::file_size(out("kestrun-setup-x86.exe")), 30000u);
    std::string check = "cd '" + out("") + "' && sha256sum --quiet -c SHA256SUMS && test $(wc -l <SHA256SUMS) = 4";
    EXPECT_EQ(std::system(check.c_str()), 0);
    EXPECT_EQ(lobby::sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(ClientBuildsTest, ReusesWhatItMadeUntilTheAddressOrThePackagedClientsChange) {
    ClientBuilds first = makeClientBuilds(config);
    auto madeAt = fs::last_write_time(out("kestrun.exe"));
    ClientBuilds second = makeClientBuilds(config);
    EXPECT_TRUE(second.fromCache);
    EXPECT_EQ(second.files, first.files);
    EXPECT_EQ(fs::last_write_time(out("kestrun.exe")), madeAt);

    config.publicUrl = "http://lobby.example.org/";
    EXPECT_FALSE(makeClientBuilds(config).fromCache);
    EXPECT_NE(readFile(out("kestrun.exe")).find("http://lobby.example.org/\0\0", 0, 27), std::string::npos);
    EXPECT_TRUE(makeClientBuilds(config).fromCache);

    // An upgrade brings a new client (and only the x64 one): nothing of the old x86 one stays.
    fs::remove(dir.file("share/kestrun-x86.exe"));
    spit(dir.file("share/kestrun.exe"), standInClient('7'));
    ClientBuilds upgraded = makeClientBuilds(config);
    EXPECT_FALSE(upgraded.fromCache);
    EXPECT_FALSE(fs::exists(out("kestrun-x86.exe")));
    EXPECT_NE(readFile(out("kestrun.exe")).find('7'), std::string::npos);
    ASSERT_FALSE(upgraded.notes.empty());
    EXPECT_NE(upgraded.notes.front().find("kestrun-x86.exe"), std::string::npos);
}

TEST_F(ClientBuildsTest, WithoutAWorkingMakensisOffersThePortableClientsAndSaysWhy) {
    const char* path = std::getenv("PATH");
    std::string saved = path ? path : "";
    setenv("PATH", dir.file("share").c_str(), 1);
    ClientBuilds made = makeClientBuilds(config);
    setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(made.files, (std::vector<std::string>{"kestrun.exe", "kestrun-x86.exe", "SHA256SUMS"}));
    ASSERT_EQ(made.notes.size(), 1u);
    EXPECT_NE(made.notes[0].find("makensis not found"), std::string::npos);

    config.makensis = "/bin/false";
    made = makeClientBuilds(config);
    EXPECT_EQ(made.files, (std::vector<std::string>{"kestrun.exe", "kestrun-x86.exe", "SHA256SUMS"}));
    ASSERT_EQ(made.notes.size(), 2u);
    EXPECT_NE(made.notes[0].find("kestrun-setup.exe not offered: /bin/false failed (exit 1)"), std::string::npos);
    EXPECT_FALSE(makeClientBuilds(config).fromCache) << "a failed installer is not kept as made";
}

TEST_F(ClientBuildsTest, RefusesAnAddressTheClientCannotHoldAndAFolderWithoutClients) {
    for (const char* url : {"https://lobby.example.org/", "http://lobby.example.org", "http://bad host/"}) {
        config.publicUrl = url;
        EXPECT_THROW(makeClientBuilds(config), lobby::ClientBuildsError) << url;
    }
    config.publicUrl = "http://127.0.0.1:4321/";
    config.clientsDir = dir.file("state");
    EXPECT_THROW(makeClientBuilds(config), lobby::ClientBuildsError);
    EXPECT_FALSE(fs::exists(out("")));
}

}  // namespace
