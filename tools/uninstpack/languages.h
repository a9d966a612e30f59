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
// The table for a Windows locale ("pt-BR", "zh-HK": ISO 639 language and
// ISO 3166 country) among those written in its ANSI code page: the one of
// that tag, else the first of that language (zh-HK on 950 gets zh-TW),
// else English, which is ASCII and fits every code page.
const Language* LanguageForLocale(const std::string& locale, int codePage);
// The tags, for error messages: "en, de, ...".
std::string LanguageTags();
