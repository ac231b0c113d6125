#include "data/module/OperatorPassword.h"

#include <gtest/gtest.h>

#include <string>

using namespace velmora::data;

namespace {

TEST(OperatorPassword, HashIsTaggedSaltedAndFitsTheColumn)
{
    const std::string first = hashOperatorPassword("5678");
    const std::string second = hashOperatorPassword("5678");
    EXPECT_EQ(first.rfind("$argon2id$", 0), 0u) << first;
    EXPECT_LE(first.size(), 255u); // passwords is NVARCHAR(255)
    EXPECT_NE(first, second);      // a salt of its own each time
    EXPECT_TRUE(isOperatorPasswordHash(first));
    EXPECT_EQ(first.find("5678"), std::string::npos);
}

struct Case
{
    const char* name;
    std::string stored;
    std::string typed;
    bool matches;
};

TEST(OperatorPassword, MatchesEitherForm)
{
    const std::string hash = hashOperatorPassword(" 1234 ");
    const std::string fake = "$argon2id$v=19$m=65536,t=2,p=1$c2FsdA$notahash";
    const Case cases[] = {
        {"hash, same password", hash, "1234", true},
        {"hash, blanks and control characters around", "\t" + hash + " ", "\r 1234\n", true},
        {"hash, other password", hash, "1235", false},
        {"hash, empty typed", hash, "", false},
        {"hash typed as the password", hash, hash, false},
        {"hash cut inside its salt, typed as is", hash.substr(0, 40), hash.substr(0, 40), false},
        {"hash cut inside its salt, its password", hash.substr(0, 40), "1234", false},
        {"hash cut before its salt, typed as is", hash.substr(0, 31), hash.substr(0, 31), false},
        {"hash cut after its tag, typed as is", "$argon2id$", "$argon2id$", false},
        {"hash cut after its tag, empty typed", "$argon2", "", false},
        {"malformed hash, typed as is", fake, fake, false},
        {"malformed hash, other text", fake, "1234", false},
        {"plain, exact", "abc", "abc", true},
        {"plain, trimmed", "  abc\t", " abc", true},
        {"plain, control characters around the stored one", "\tabc\r\n", "abc", true},
        {"plain, blanks around the typed one", "abc", "   abc  ", true},
        {"plain, letter case counts", "abc", "ABC", false},
        {"plain, inner blank counts", "a bc", "abc", false},
        {"plain, inner blank kept", "a bc", " a bc ", true},
        {"plain, both empty", "", "", true},
        {"plain, empty stored, blanks typed", "", "   ", true},
        {"plain, empty stored, something typed", "", "x", false},
        {"plain, Chinese", "药房", " 药房", true},
        {"argon2i is not our tag, nor plain text", "$argon2i$v=19$m=65536,t=2,p=1$c2FsdA$x",
         "$argon2i$v=19$m=65536,t=2,p=1$c2FsdA$x", false},
        {"a tag in another letter case is plain text", "$ARGON2id$x", "$ARGON2id$x", true},
        {"a tag inside the text is plain text", "pw$argon2id$", "pw$argon2id$", true},
        {"NUL inside is plain text", std::string("ab\0c", 4), std::string("ab\0c", 4), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(operatorPasswordMatches(c.stored, c.typed), c.matches) << c.name;
}

TEST(OperatorPassword, OnlyParsableHashesCountAsHashes)
{
    const std::string hash = hashOperatorPassword("x");
    EXPECT_TRUE(isOperatorPasswordHash(hash));
    EXPECT_TRUE(isOperatorPasswordHash("  " + hash));
    for (const std::string& text : {std::string(), std::string("$argon2id$"), hash.substr(0, 20), hash + "$extra",
                                    std::string("$argon2id$v=19$m=65536,t=2,p=1$!!!$!!!"), std::string(300, '$')})
        EXPECT_FALSE(isOperatorPasswordHash(text)) << text;
}

// A hash naming costs beyond libsodium's strongest preset is not verified
// (that would stall the sign-on for hours), nor is it plain text: it matches
// nothing.
TEST(OperatorPassword, CostsBeyondTheStrongestPresetAreNotAHash)
{
    const std::string hash = hashOperatorPassword("x");
    const std::string costs = "$m=65536,t=2,p=1$";
    const std::size_t at = hash.find(costs);
    ASSERT_NE(at, std::string::npos) << hash;
    const auto withCosts = [&](const std::string& other) { return std::string(hash).replace(at, costs.size(), other); };

    EXPECT_TRUE(isOperatorPasswordHash(withCosts("$m=65536,t=4,p=1$")));
    EXPECT_TRUE(isOperatorPasswordHash(withCosts("$m=1048576,t=1,p=1$")));
    for (const std::string& stalling :
         {withCosts("$m=65536,t=4294967295,p=1$"), withCosts("$m=65536,t=5,p=1$"), withCosts("$m=1048577,t=2,p=1$"),
          withCosts("$m=4294967295,t=2,p=1$"), withCosts("$m=65536,t=99999999999999999999999,p=1$")}) {
        EXPECT_FALSE(isOperatorPasswordHash(stalling)) << stalling;
        EXPECT_FALSE(operatorPasswordMatches(stalling, "x")) << stalling;
        EXPECT_FALSE(operatorPasswordMatches(stalling, stalling)) << stalling;
    }
}

} // namespace
