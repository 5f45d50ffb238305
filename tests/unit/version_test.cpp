#include "common/version.h"

#include <gtest/gtest.h>

namespace {

struct ParseCase {
    const wchar_t* text;
    VersionNumbers expected;
};

class ParseVersionTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseVersionTest, GivesFourNumbers) {
    EXPECT_EQ(ParseVersion(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseVersionTest,
    ::testing::Values(ParseCase{L"1.0.0.0", {1, 0, 0, 0}}, ParseCase{L"2.10.3.4.5", {2, 10, 3, 4}},
                      ParseCase{L"1.2.3", {1, 2, 3, 0}}, ParseCase{L"1.2.3.", {1, 2, 3, 0}},
                      ParseCase{L"..1..2.3.4", {1, 2, 3, 4}}, ParseCase{L"1a.b2.3.4", {1, 0, 3, 4}},
                      ParseCase{L" 7.-1.0.0", {7, -1, 0, 0}},
                      // A CR left by a CR LF line end does not disturb the last number.
                      ParseCase{L"1.0.0.2\r", {1, 0, 0, 2}},
                      // Out of range clamps as wcstol does.
                      ParseCase{L"99999999999.-99999999999.2147483647.-2147483648",
                                {2147483647, -2147483647 - 1, 2147483647, -2147483647 - 1}},
                      ParseCase{L"+3.\t4.0.0", {3, 4, 0, 0}},
                      // Fewer than three numbers: the missing ones are 0.
                      ParseCase{L"", {0, 0, 0, 0}}, ParseCase{L"5", {5, 0, 0, 0}},
                      ParseCase{L"...", {0, 0, 0, 0}}));

struct NewerCase {
    const wchar_t* candidate;
    const wchar_t* reference;
    bool newer;
};

class IsNewerVersionTest : public ::testing::TestWithParam<NewerCase> {};

TEST_P(IsNewerVersionTest, LeftmostDifferenceDecides) {
    const auto& c = GetParam();
    EXPECT_EQ(IsNewerVersion(ParseVersion(c.candidate), ParseVersion(c.reference)), c.newer)
        << c.candidate << " vs " << c.reference;
}

INSTANTIATE_TEST_SUITE_P(Table, IsNewerVersionTest,
                         ::testing::Values(NewerCase{L"1.0.0.1", L"1.0.0.0", true},
                                           NewerCase{L"1.0.0.0", L"1.0.0.0", false},
                                           NewerCase{L"1.0.0.0", L"1.0.0.1", false},
                                           NewerCase{L"1.0.0.5", L"2.0.0.0", false},
                                           NewerCase{L"2.0.0.0", L"1.0.0.5", true},
                                           NewerCase{L"0.9.9.9", L"1.0.0.0", false},
                                           NewerCase{L"1.10.0.0", L"1.9.0.0", true},
                                           NewerCase{L"0.0.0.0", L"1.0.0.0", false},
                                           // Signed: a negative place is older than 0.
                                           NewerCase{L"1.-1.0.0", L"1.0.0.0", false},
                                           NewerCase{L"1.0.0.0", L"1.-1.0.0", true}));

}  // namespace
