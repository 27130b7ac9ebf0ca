// The language tables: codes, ids, names, locales and the font rule.
#include "i18n/FontRule.h"
#include "i18n/Languages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace zeph::i18n;

TEST(CodeTable, CodesCompareWithExactCaseAndRoundTrip) {
    const std::pair<const char *, std::int32_t> cases[] = {
        {"DEU", 1031}, {"deu", 1033},  {"DEU ", 1033}, {"", 1033},     {"JPN", 1041},
        {"KOR", 1033}, {"ENX", 33801}, {"ZHI", 4100},  {"ESU", 20490}, {"ERR", 1033},
    };
    for (const auto &[code, id] : cases)
        EXPECT_EQ(CodeToLangId(code), id) << "'" << code << "'";

    std::set<std::int32_t> ids;
    for (const auto &row : languageCodeTable()) {
        SCOPED_TRACE(std::string(row.code));
        EXPECT_TRUE(ids.insert(row.id).second);
        EXPECT_EQ(LangIdToCode(row.id), row.code);
        EXPECT_NE(LangIdToName(row.id), "(error)");
        EXPECT_EQ(CodeToLanguageName(row.code), LangIdToName(row.id));
    }
    EXPECT_EQ(ids.size(), 44u);
}

TEST(LanguageNames, SpecialAndUnknownIds) {
    EXPECT_EQ(LangIdToName(33801), "English (TDD/TTY)");
    EXPECT_EQ(LangIdToName(1031), "German (Germany)");
    EXPECT_EQ(LangIdToCode(1042), "KOR") << "a language the code table lacks";
    EXPECT_EQ(LangIdToName(1042), "Korean");
    for (std::int32_t unknown : {0, -1, 12345}) {
        EXPECT_EQ(LangIdToCode(unknown), "ERR") << unknown;
        EXPECT_EQ(LangIdToName(unknown), "(error)") << unknown;
    }
    EXPECT_EQ(CodeToLanguageName(""), "English (United States)");
    EXPECT_EQ(CodeToLanguageName("jpn"), "English (United States)");
}

TEST(LanguageNames, UsersLocaleGivesTheDefaultLanguage) {
    const std::pair<const char *, std::int32_t> cases[] = {
        {"de_DE.UTF-8", 1031}, {"de_XX", 1031},   {"de_AT", 3079}, {"de-CH", 2055},
        {"fr_FR@euro", 1036},  {"zh", 2052},      {"zh_TW", 1028}, {"nn_NO", 2068},
        {"EN_us", 1033},       {"C.UTF-8", 1033}, {"", 1033},      {"_DE", 1033},
    };
    for (const auto &[locale, id] : cases)
        EXPECT_EQ(langIdFromLocale(locale), id) << "'" << locale << "'";
}

TEST(FontRules, OnlyTheFarEastLanguagesHaveTheirOwnFont) {
    EXPECT_EQ(fontRuleFor(1042).charset, 129);
    EXPECT_EQ(fontRuleFor(1028).face, "\u65B0\u7D30\u660E\u9AD4");
    for (std::int32_t id : {1033, 3076, 0}) { // Chinese (Hong Kong) keeps the default font
        EXPECT_EQ(fontRuleFor(id).charset, 1) << id;
        EXPECT_EQ(fontRuleFor(id).face, "") << id;
    }
}
