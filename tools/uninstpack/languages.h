// The built-in message tables, one per language, from languages.json: all
// sixteen messages as a native Windows dialog in that language would word
// them, and the language's ANSI code page.
#pragma once
#include <string>
#include <vector>

struct Language {
    std::string tag;   // BCP 47, such as "pt-BR"
    std::string name;  // in the language itself
    int codePage;
    std::vector<std::string> messages;  // UTF-8, in index order
};

// In the order of the data file, English first.
const std::vector<Language>& BuiltInLanguages();
// Null for a tag that is not built in.
const Language* FindLanguage(const std::string& tag);
// The tags, for error messages: "en, de, ...".
std::string LanguageTags();
