// Message formatting: texts are data, never format strings.
#include <gtest/gtest.h>

#include <tuple>

#include "data/message_table.h"

// Formats text as message 0; writes past the 1024-byte destination fail the test.
static std::string Format(const std::string& text, const char* argument) {
    char* table[] = {const_cast<char*>(text.c_str()), nullptr};
    MessageTable = table;
    char out[FormattedMessageSize + 16];
    memset(out, 'Z', sizeof out);
    FormatMessageText(out, 0, argument);
    MessageTable = nullptr;
    EXPECT_EQ('Z', out[FormattedMessageSize]) << "wrote past the destination";
    return out;
}

TEST(MessageFormatting, OnlyTheFirstPercentSIsReplaced) {
    const std::string longest(5000, 'p');
    const std::tuple<std::string, const char*, std::string> cases[] = {
        // The text, the argument, the result.
        {"Cannot read %s.", "C:\\App\\uninst.exe", "Cannot read C:\\App\\uninst.exe."},
        {"100%% of %s", "x", "100% of x"},
        {"%d files in %n", "x", "%d files in %n"},  // no "%s": not a template, copied as it stands
        {"%s and %s", "a", "a and %s"},
        {"%d%%s %s", "a", "%d%s a"},  // "%%" then "s" is text, then the argument
        {"%%", "a", "%%"},
        {"%s and %s", "%s%%", "%s%% and %s"},  // the argument is never interpreted
        {"abc %s", nullptr, "abc "},
        {std::string(2000, 'm'), "a", std::string(1023, 'm')},
        {"%s", longest.c_str(), std::string(1023, 'p')},
    };
    for (const auto& [text, argument, expected] : cases) EXPECT_EQ(expected, Format(text, argument)) << text;
}
