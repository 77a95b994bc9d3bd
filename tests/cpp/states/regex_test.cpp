#include "states/regex.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(Regex, FindsNamedGroupsFromAnOffset) {
    const Utils::Regex regex(R"((?P<key>\w+)=(?P<sign>-)?(?P<number>\d+))");
    Utils::Regex::Match match(regex);
    const std::string text = "x=1 y=-22";
    std::vector<std::string> found;
    for (std::size_t offset = 0; regex.search(text, offset, match); offset = match.end()) {
        found.push_back(std::to_string(match.begin()) + ":" + std::string(match.group(0)) + "|" +
                        std::string(match.group("key")) + "|" + std::string(match.group("sign")) +
                        "|" + std::string(match.group("number")));
    }
    EXPECT_EQ(found, (std::vector<std::string>{"0:x=1|x||1", "4:y=-22|y|-|22"}));
    EXPECT_FALSE(regex.search(text, text.size(), match));
    EXPECT_FALSE(regex.search(std::string_view(), 0, match));
}

TEST(Regex, ReportsCompileErrorsAndUnknownGroups) {
    try {
        Utils::Regex regex("(?P<a>x");
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("missing closing parenthesis"), std::string::npos)
            << e.what();
    }
    const Utils::Regex regex("(?P<a>x)");
    EXPECT_THROW((void)regex.group_number("b"), std::invalid_argument);
}

}  // namespace
