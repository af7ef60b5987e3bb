#include "query/StringTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Split {
    int32_t count;
    std::vector<std::string> tokens;
};

// Counts first, then takes as many tokens as counted.
Split SplitText(const std::string& text, char delimiter)
{
    CStringTokenizer tokenizer(text, delimiter);
    Split split{tokenizer.CountTokens(), {}};
    EXPECT_EQ(tokenizer.CountTokens(), split.count) << "counting moved the position";
    for (int32_t i = 0; i < split.count; ++i)
        split.tokens.push_back(tokenizer.NextToken());
    return split;
}

using Tokens = std::vector<std::string>;

TEST(CStringTokenizer, ColonSeparatesAtEveryOccurrence)
{
    const std::pair<std::string, Tokens> cases[] = {
        {"a:b", {"a", "b"}},
        {"a:", {"a"}},
        {"a", {"a"}},
        {":b", {"", "b"}},
        {"a::b", {"a", "", "b"}},
        {"a:b:c", {"a", "b", "c"}},
        {"a::", {"a", ""}},
        {"::", {"", ""}},
        {"192.0.2.1:124", {"192.0.2.1", "124"}},
        {"fe80::1", {"fe80", "", "1"}},
        {"a b\t:c", {"a b\t", "c"}},
    };
    for (const auto& [text, tokens] : cases) {
        const Split split = SplitText(text, ':');
        EXPECT_EQ(split.count, static_cast<int32_t>(tokens.size())) << text;
        EXPECT_EQ(split.tokens, tokens) << text;
    }
}

TEST(CStringTokenizer, BlankMatchesTabsAndRuns)
{
    const std::pair<std::string, Tokens> cases[] = {
        {"a b", {"a", "b"}},
        {"a\tb", {"a", "b"}},
        {"  a \t\t b  ", {"a", "b"}},
        {"\ta  b\t c", {"a", "b", "c"}},
        {"a:b", {"a:b"}},
        {"   ", {""}},
    };
    for (const auto& [text, tokens] : cases) {
        const Split split = SplitText(text, ' ');
        EXPECT_EQ(split.count, static_cast<int32_t>(tokens.size())) << text;
        EXPECT_EQ(split.tokens, tokens) << text;
    }
}

TEST(CStringTokenizer, EmptyAndExhausted)
{
    CStringTokenizer empty("", ':');
    EXPECT_EQ(empty.CountTokens(), 0);
    EXPECT_EQ(empty.NextToken(), "");

    CStringTokenizer tokenizer("a:b", ':');
    EXPECT_EQ(tokenizer.NextToken(), "a");
    EXPECT_EQ(tokenizer.CountTokens(), 1);
    EXPECT_EQ(tokenizer.NextToken(), "b");
    EXPECT_EQ(tokenizer.CountTokens(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(tokenizer.NextToken(), "");

    // A trailing separator: the position rests at the end until an empty last token.
    CStringTokenizer trailing("a:", ':');
    EXPECT_EQ(trailing.NextToken(), "a");
    EXPECT_EQ(trailing.NextToken(), "");
    EXPECT_EQ(trailing.CountTokens(), 0);
    EXPECT_EQ(trailing.NextToken(), "");
}

TEST(CStringTokenizer, TextEndsAtAZeroCharacter)
{
    const Split split = SplitText(std::string("a\0:b", 4), ':');
    EXPECT_EQ(split.count, 1);
    EXPECT_EQ(split.tokens, Tokens{"a"});
    EXPECT_EQ(SplitText(std::string(1, '\0'), ':').count, 0);
}

TEST(CStringTokenizer, LongTextOfDelimiters)
{
    const std::string colons(10000, ':');
    const Split split = SplitText(colons, ':');
    EXPECT_EQ(split.count, 10000);
    EXPECT_EQ(split.tokens, Tokens(10000, ""));
    EXPECT_EQ(SplitText(std::string(10000, '\t'), ' ').count, 1);
}

} // namespace
