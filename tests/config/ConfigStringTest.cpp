// Lookups in configuration texts, including the consequences of reading sections by their
// place in the bracket-split text rather than by their brackets.
#include <gtest/gtest.h>

#include "config/CConfigString.h"
#include "config/CStringTokenizer.h"

namespace {

struct LookupCase {
    const char* text;
    const char* section;
    const char* key;
    const char* expected;
};

class GetValueTest : public testing::TestWithParam<LookupCase> {};

TEST_P(GetValueTest, YieldsExpectedValue) {
    const LookupCase& c = GetParam();
    EXPECT_EQ(CConfigString(c.text).GetValue(c.section, c.key), c.expected);
}

const LookupCase kLookups[] = {
    {"[NET]NET:ETHERNET,2;[DRVR]PORT:P1;NODE:5;", "NET", "NET", "ETHERNET,2"},
    {"[NET]NET:ETHERNET,2;[DRVR]PORT:P1;NODE:5;", "DRVR", "NODE", "5"},
    {"[ADDRESS]DNA:1;DA1:20;", "ADDRESS", "DA1", "20"},
    {"[ADDRESS]DNA:1;DA1:20;", "DRVR", "PORT", ""},
    {"", "NET", "NET", ""},
    {"NET:ETHERNET", "NET", "NET", ""},                 // the only token holds a colon
    {"[DRVR]PORT:P1;NODE:5", "DRVR", "NODE", "5"},
    {"[DRVR]PORT:P1;NODE:5", "DRVR", "P1", "NODE"},     // values are compared with the key too
    {"[DRVR]PORT:;NODE:5", "DRVR", "PORT", "NODE"},     // the empty value vanishes in the split
    {"[DRVR]PORT:P1", "drvr", "PORT", ""},              // section names are case-sensitive
    {"[DRVR]PORT :P1", "DRVR", "PORT", ""},             // the space belongs to the key
    {"[DRVR]NODE", "DRVR", "NODE", ""},                 // no token after the key
    {"S[K:V]", "S", "K", "V"},                          // text before the first bracket names a section
    {"[A]B[C:D]", "B", "C", "D"},                       // a body without ':' and ';' names a section
    {"[A][B]K:V", "A", "K", ""},                        // the body taken for A is B
    {"[A][B]K:V", "B", "K", "V"},
    {"[X]K:1;[X]K:2", "X", "K", "1"},                   // first match wins
    {"[X]J:1;[X]K:2", "X", "K", "2"},                   // a later section of the same name is searched
    {"[X]K:1;", "X", "", ""},                           // empty key
    {"[X]K:1;", "", "K", ""},
    {"[X]K:1", "Y", "K", ""},
    {"[A]K:1[B]K:2", "B", "K", "2"},
};

INSTANTIATE_TEST_SUITE_P(Texts, GetValueTest, testing::ValuesIn(kLookups));

TEST(FirstListElementTest, TakesTheFirstCommaFreeRun) {
    const std::pair<const char*, const char*> cases[] = {
        {"ETHERNET,2", "ETHERNET"}, {",,A,B", "A"}, {"", ""}, {",,,", ""}, {"P1", "P1"}, {"A B,C", "A B"},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(FirstListElement(value), expected) << "value: " << value;
    }
}

TEST(StringTokenizerTest, SplitsIntoMaximalRunsAndStaysExhausted) {
    CStringTokenizer tokenizer(";;a:b;;c:", ":;");
    EXPECT_EQ(tokenizer.NextToken(), "a");
    EXPECT_EQ(tokenizer.NextToken(), "b");
    EXPECT_EQ(tokenizer.NextToken(), "c");
    EXPECT_EQ(tokenizer.NextToken(), "");
    EXPECT_EQ(tokenizer.NextToken(), "");
}

TEST(StringTokenizerTest, TextOfDelimitersOnlyYieldsNothing) {
    CStringTokenizer tokenizer("[][[]]", "[]");
    EXPECT_EQ(tokenizer.NextToken(), "");
    EXPECT_EQ(tokenizer.NextToken(), "");
}

TEST(StringTokenizerTest, CopiesKeepTheirPosition) {
    CStringTokenizer original("a,b,c", ",");
    EXPECT_EQ(original.NextToken(), "a");
    CStringTokenizer copy = original;
    EXPECT_EQ(copy.NextToken(), "b");
    EXPECT_EQ(original.NextToken(), "b");
    EXPECT_EQ(copy.NextToken(), "c");
}

TEST(StringTokenizerTest, NoDelimitersGivesTheWholeText) {
    CStringTokenizer tokenizer("a b", "");
    EXPECT_EQ(tokenizer.NextToken(), "a b");
    EXPECT_EQ(tokenizer.NextToken(), "");
}

}  // namespace
