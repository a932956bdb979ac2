// The manual page documents every command word and every switch form of the
// command line: each is the tag of an item (.TP) of tapediag(8), so the page
// cannot fall behind the program's tables.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "CommandTable.h"
#include "Utility.h"

namespace {

// The text of a roff line as it reads: font changes and zero-width marks
// dropped, "\-" as "-", and a leading .B or .BR macro removed.
std::string PlainText(std::string line)
{
    line = std::regex_replace(line, std::regex(R"(^\.BR? )"), "");
    line = std::regex_replace(line, std::regex(R"(\\f[BIRP]|\\&|")"), "");
    return std::regex_replace(line, std::regex(R"(\\-)"), "-");
}

// The entries of every item tag: a tag may name several forms, ", " apart.
std::vector<std::string> TagEntries(const std::string& page)
{
    std::vector<std::string> entries;
    std::istringstream lines(page);
    std::string line;
    bool tagFollows = false;
    while (std::getline(lines, line)) {
        if (tagFollows) {
            std::string tag = PlainText(line);
            for (size_t start = 0;;) {
                size_t comma = tag.find(", ", start);
                entries.push_back(tag.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
                if (comma == std::string::npos)
                    break;
                start = comma + 2;
            }
        }
        tagFollows = line.rfind(".TP", 0) == 0;
    }
    return entries;
}

bool Documents(const std::vector<std::string>& entries, const std::string& form, bool takesValue)
{
    for (const std::string& entry : entries) {
        if (takesValue ? entry.size() > form.size() && entry.compare(0, form.size(), form) == 0 : entry == form)
            return true;
    }
    return false;
}

// The command words and switch forms that the page has no item for.
std::vector<std::string> Undocumented(const std::string& page)
{
    const std::vector<std::string> entries = TagEntries(page);
    std::vector<std::string> missing;
    size_t count = 0;
    const CCommandRow* rows = CommandRows(count);
    for (size_t i = 0; i < count; ++i) {
        if (!Documents(entries, rows[i].word, false))
            missing.push_back(rows[i].word);
    }
    for (const CSwitchText& form : CUtility::SwitchTexts()) {
        if (!Documents(entries, form.text, form.takesValue))
            missing.push_back(form.text);
    }
    return missing;
}

std::string ReadPage(const std::string& name)
{
    std::ifstream in(std::string(TAPEDIAG_SOURCE_DIR) + "/man/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ManPage, DocumentsEveryCommandAndSwitch)
{
    const std::string page = ReadPage("tapediag.8.in");
    ASSERT_FALSE(page.empty());
    EXPECT_EQ(Undocumented(page), std::vector<std::string>());
}

TEST(ManPage, AFormMentionedOnlyInPassingOrWithoutItsValueIsMissing)
{
    const std::string page = ReadPage("tapediag.8.in");
    // The item of the test size, with its value left out; park named in a
    // sentence only.
    std::string changed = std::regex_replace(page, std::regex(R"(\\fB\\-ts:\\fR\\fIMB\\fR)"), "\\fB\\-ts:\\fR");
    changed = std::regex_replace(changed, std::regex(R"(\.TP\n\\fBpark\\fR\n)"), "Also \\fBpark\\fR.\n");
    ASSERT_NE(changed, page);
    EXPECT_EQ(Undocumented(changed), std::vector<std::string>({"park", "-ts:"}));
}

}  // namespace
