#include "languages.h"

#include <nlohmann/json.hpp>

#include "block_writer.h"
#include "manifest.h"

namespace {

// The data file, embedded by the build so that the generator is one file.
const char LanguageData[] =
#include "languages.inc"
    ;

std::vector<Language> ParseLanguages() {
    const nlohmann::ordered_json root = nlohmann::ordered_json::parse(LanguageData);
    std::vector<Language> languages;
    for (const auto& item : root.items()) {
        const auto& entry = item.value();
        Language language{item.key(), entry.at("name").get<std::string>(), entry.at("codepage").get<int>(), {}};
        for (const char* name : MessageNames) language.messages.push_back(entry.at("messages").at(name).get<std::string>());
        languages.push_back(language);
    }
    if (languages.empty() || languages[0].tag != "en") Refuse("the language table must begin with en");
    return languages;
}

}  // namespace

const std::vector<Language>& BuiltInLanguages() {
    static const std::vector<Language> languages = ParseLanguages();
    return languages;
}

const Language* FindLanguage(const std::string& tag) {
    for (const Language& language : BuiltInLanguages())
        if (language.tag == tag) return &language;
    return nullptr;
}

const Language* LanguageForLocale(const std::string& locale, int codePage) {
    const std::string language = locale.substr(0, locale.find('-'));
    const Language* sameLanguage = nullptr;
    for (const Language& candidate : BuiltInLanguages()) {
        if (candidate.codePage != codePage) continue;
        if (candidate.tag == locale) return &candidate;
        if (!sameLanguage && candidate.tag.substr(0, candidate.tag.find('-')) == language) sameLanguage = &candidate;
    }
    return sameLanguage ? sameLanguage : BuiltInLanguages().data();
}

std::string LanguageTags() {
    std::string tags;
    for (const Language& language : BuiltInLanguages()) tags += (tags.empty() ? "" : ", ") + language.tag;
    return tags;
}
