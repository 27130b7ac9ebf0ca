// The language tables: codes, ids, names, locales and the font rule.
#include "i18n/FontRule.h"
#include "i18n/Languages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace zeph::i18n;

TEST(CodeTable, ComparesWithExactCase) {
    struct Case {
        const char *code;
        std::int32_t id;
    };
    const Case cases[] = {
        {"DEU", 1031}, {"deu", 1033},  {"Deu", 1033}, {"DEU ", 1033}, {" DEU", 1033},
        {"", 1033},    {"JPN", 1041},  {"jpn", 1033}, {"KOR", 1033},  {"ENX", 33801},
        {"ZHI", 4100}, {"ESU", 20490}, {"CHT", 1028}, {"CHS", 2052},  {"ERR", 1033},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CodeToLangId(c.code), c.id) << "'" << c.code << "'";
}

TEST(CodeTable, EveryCodeRoundTripsAndHasAName) {
    std::set<std::string> codes;
    std::set<std::int32_t> ids;
    for (const auto &row : languageCodeTable()) {
        SCOPED_TRACE(std::string(row.code));
        EXPECT_TRUE(codes.insert(std::string(row.code)).second);
        EXPECT_TRUE(ids.insert(row.id).second);
        EXPECT_EQ(LangIdToCode(row.id), row.code);
        EXPECT_NE(LangIdToName(row.id), "(error)");
        EXPECT_EQ(CodeToLanguageName(row.code), LangIdToName(row.id));
    }
    EXPECT_EQ(codes.size(), 44u);
}

TEST(LanguageNames, SpecialAndUnknownIds) {
    EXPECT_EQ(LangIdToCode(33801), "ENX");
    EXPECT_EQ(LangIdToName(33801), "English (TDD/TTY)");
    EXPECT_EQ(LangIdToCode(1033), "ENU");
    EXPECT_EQ(LangIdToName(1033), "English (United States)");
    EXPECT_EQ(LangIdToName(1031), "German (Germany)");
    EXPECT_EQ(LangIdToName(1036), "French (France)");
    EXPECT_EQ(LangIdToName(1041), "Japanese");
    EXPECT_EQ(LangIdToCode(1042), "KOR") << "a language the code table lacks";
    EXPECT_EQ(LangIdToName(1042), "Korean");
    for (std::int32_t unknown : {0, -1, 12345, 0x7FFFFFFF}) {
        EXPECT_EQ(LangIdToCode(unknown), "ERR") << unknown;
        EXPECT_EQ(LangIdToName(unknown), "(error)") << unknown;
    }
    EXPECT_EQ(CodeToLanguageName("DEU"), "German (Germany)");
    EXPECT_EQ(CodeToLanguageName(""), "English (United States)");
}

TEST(LanguageNames, UsersLocaleGivesTheDefaultLanguage) {
    struct Case {
        const char *locale;
        std::int32_t id;
    };
    const Case cases[] = {
        {"de_DE.UTF-8", 1031}, {"de", 1031},
        {"de_XX", 1031},       {"de_AT", 3079},
        {"de-CH", 2055},       {"fr_CA.UTF-8", 3084},
        {"fr_FR@euro", 1036},  {"ja_JP.eucJP", 1041},
        {"zh_TW.UTF-8", 1028}, {"zh_CN.GB18030", 2052},
        {"zh", 2052},          {"zh_HK", 3076},
        {"ko_KR.UTF-8", 1042}, {"es_ES", 3082},
        {"es", 3082},          {"es_MX", 2058},
        {"nb_NO", 1044},       {"no_NO", 1044},
        {"nn_NO", 2068},       {"en_GB", 2057},
        {"EN_us", 1033},       {"pt_BR", 1046},
        {"C", 1033},           {"C.UTF-8", 1033},
        {"POSIX", 1033},       {"", 1033},
        {"xx_YY", 1033},       {"_DE", 1033},
        {".UTF-8", 1033},      {"@euro", 1033},
    };
    for (const auto &c : cases)
        EXPECT_EQ(langIdFromLocale(c.locale), c.id) << "'" << c.locale << "'";
}

namespace {

std::string utf8(std::u32string_view codePoints) {
    std::string out;
    for (char32_t c : codePoints) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace

TEST(FontRules, PerLanguage) {
    struct Case {
        std::int32_t id;
        int charset;
        std::u32string face;
    };
    const Case cases[] = {
        {1041, 128, {0xFF2D, 0xFF33, 0x0020, 0xFF30, 0x30B4, 0x30B7, 0x30C3, 0x30AF}},
        {1042, 129, {0xAD74, 0xB9BC}},
        {1028, 136, {0x65B0, 0x7D30, 0x660E, 0x9AD4}},
        {2052, 134, {0x5B8B, 0x4F53}},
        {1033, 1, {}},
        {1031, 1, {}},
        {3076, 1, {}},
        {4100, 1, {}},
        {33801, 1, {}},
        {0, 1, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        const FontRule rule = fontRuleFor(c.id);
        EXPECT_EQ(rule.charset, c.charset);
        EXPECT_EQ(rule.face, utf8(c.face));
    }
    EXPECT_EQ(fontRuleFor(1041).face, "\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");
}
