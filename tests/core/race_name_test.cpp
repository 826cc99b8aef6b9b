#include "app/dialogs/race_name.h"

#include <gtest/gtest.h>

#include <string>

TEST(RaceName, AcceptsEveryAllowedCharacterAndNothingElse) {
    std::string allowed = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_ '";
    for (int b = 0; b < 256; ++b) {
        char c = static_cast<char>(b);
        bool expected = allowed.find(c) != std::string::npos;
        EXPECT_EQ(isRaceNameChar(c), expected) << "byte " << b;
    }
}

TEST(RaceName, WholeNames) {
    struct Case {
        std::string name;
        bool accepted;
    };
    const Case cases[] = {
        {"Test1", true},
        {"Bob's race", true},
        {"night-run_2", true},
        {"   ", true},
        {"", true},
        {"Race #1", false},
        {"v1.0", false},
        {"a,b", false},
        {"caf\xe9", false},           // accented letter in a code page
        {"caf\xc3\xa9", false},       // the same in UTF-8
        {"tab\there", false},
        {std::string("nul\0x", 5), false},
        {"ok!", false},
        {"\x80", false},
        {"#ok", false},               // a bad character first does not hide the rest
    };
    for (const Case& c : cases) EXPECT_EQ(isRaceName(c.name), c.accepted) << c.name;
}
