#include "Languages.h"
#include "platform/AsciiText.h"

#include <array>
#include <cctype>

namespace zeph::i18n {

namespace {

constexpr std::array kCodeTable = {
    LanguageCode{"ENX", 33801}, LanguageCode{"ENU", 1033},  LanguageCode{"ENG", 2057},
    LanguageCode{"ENA", 3081},  LanguageCode{"ENC", 4105},  LanguageCode{"ENZ", 5129},
    LanguageCode{"ENI", 6153},  LanguageCode{"DEU", 1031},  LanguageCode{"DES", 2055},
    LanguageCode{"DEA", 3079},  LanguageCode{"DEL", 4103},  LanguageCode{"DEC", 5127},
    LanguageCode{"ESP", 1034},  LanguageCode{"ESM", 2058},  LanguageCode{"ESN", 3082},
    LanguageCode{"ESG", 4106},  LanguageCode{"ESC", 5130},  LanguageCode{"ESA", 6154},
    LanguageCode{"ESD", 7178},  LanguageCode{"ESV", 8202},  LanguageCode{"ESO", 9226},
    LanguageCode{"ESR", 10250}, LanguageCode{"ESS", 11274}, LanguageCode{"ESH", 18442},
    LanguageCode{"ESI", 19466}, LanguageCode{"ESU", 20490}, LanguageCode{"FRA", 1036},
    LanguageCode{"FRB", 2060},  LanguageCode{"FRC", 3084},  LanguageCode{"FRS", 4108},
    LanguageCode{"FRL", 5132},  LanguageCode{"ITA", 1040},  LanguageCode{"ITS", 2064},
    LanguageCode{"JPN", 1041},  LanguageCode{"NLD", 1043},  LanguageCode{"NLB", 2067},
    LanguageCode{"NOR", 1044},  LanguageCode{"NON", 2068},  LanguageCode{"PTB", 1046},
    LanguageCode{"PTG", 2070},  LanguageCode{"CHT", 1028},  LanguageCode{"ZHT", 3076},
    LanguageCode{"CHS", 2052},  LanguageCode{"ZHI", 4100},
};

// What the system knows of a language: its abbreviation, its display name and the POSIX
// locale that stands for it. For each language its main variant comes first, so that a locale
// naming only the language (or an unknown territory) finds that one. The abbreviations of
// the code table's languages are the code table's own, so that a library's code and its
// language's code agree.
struct LanguageInfo {
    std::int32_t id;
    std::string_view code;
    std::string_view name;
    std::string_view locale;
};

constexpr std::array kLanguages = {
    LanguageInfo{1033, "ENU", "English (United States)", "en_US"},
    LanguageInfo{2057, "ENG", "English (United Kingdom)", "en_GB"},
    LanguageInfo{3081, "ENA", "English (Australia)", "en_AU"},
    LanguageInfo{4105, "ENC", "English (Canada)", "en_CA"},
    LanguageInfo{5129, "ENZ", "English (New Zealand)", "en_NZ"},
    LanguageInfo{6153, "ENI", "English (Ireland)", "en_IE"},
    LanguageInfo{1031, "DEU", "German (Germany)", "de_DE"},
    LanguageInfo{2055, "DES", "German (Switzerland)", "de_CH"},
    LanguageInfo{3079, "DEA", "German (Austria)", "de_AT"},
    LanguageInfo{4103, "DEL", "German (Luxembourg)", "de_LU"},
    LanguageInfo{5127, "DEC", "German (Liechtenstein)", "de_LI"},
    LanguageInfo{3082, "ESN", "Spanish (International Sort)", "es_ES"},
    LanguageInfo{1034, "ESP", "Spanish (Traditional Sort)", ""},
    LanguageInfo{2058, "ESM", "Spanish (Mexico)", "es_MX"},
    LanguageInfo{4106, "ESG", "Spanish (Guatemala)", "es_GT"},
    LanguageInfo{5130, "ESC", "Spanish (Costa Rica)", "es_CR"},
    LanguageInfo{6154, "ESA", "Spanish (Panama)", "es_PA"},
    LanguageInfo{7178, "ESD", "Spanish (Dominican Republic)", "es_DO"},
    LanguageInfo{8202, "ESV", "Spanish (Venezuela)", "es_VE"},
    LanguageInfo{9226, "ESO", "Spanish (Colombia)", "es_CO"},
    LanguageInfo{10250, "ESR", "Spanish (Peru)", "es_PE"},
    LanguageInfo{11274, "ESS", "Spanish (Argentina)", "es_AR"},
    LanguageInfo{18442, "ESH", "Spanish (Honduras)", "es_HN"},
    LanguageInfo{19466, "ESI", "Spanish (Nicaragua)", "es_NI"},
    LanguageInfo{20490, "ESU", "Spanish (Puerto Rico)", "es_PR"},
    LanguageInfo{1036, "FRA", "French (France)", "fr_FR"},
    LanguageInfo{2060, "FRB", "French (Belgium)", "fr_BE"},
    LanguageInfo{3084, "FRC", "French (Canada)", "fr_CA"},
    LanguageInfo{4108, "FRS", "French (Switzerland)", "fr_CH"},
    LanguageInfo{5132, "FRL", "French (Luxembourg)", "fr_LU"},
    LanguageInfo{1040, "ITA", "Italian (Italy)", "it_IT"},
    LanguageInfo{2064, "ITS", "Italian (Switzerland)", "it_CH"},
    LanguageInfo{1041, "JPN", "Japanese", "ja_JP"},
    LanguageInfo{1043, "NLD", "Dutch (Netherlands)", "nl_NL"},
    LanguageInfo{2067, "NLB", "Dutch (Belgium)", "nl_BE"},
    LanguageInfo{1044, "NOR", "Norwegian (Bokm\u00e5l)", "nb_NO"},
    LanguageInfo{2068, "NON", "Norwegian (Nynorsk)", "nn_NO"},
    LanguageInfo{1046, "PTB", "Portuguese (Brazil)", "pt_BR"},
    LanguageInfo{2070, "PTG", "Portuguese (Portugal)", "pt_PT"},
    LanguageInfo{2052, "CHS", "Chinese (PRC)", "zh_CN"},
    LanguageInfo{1028, "CHT", "Chinese (Taiwan)", "zh_TW"},
    LanguageInfo{3076, "ZHT", "Chinese (Hong Kong S.A.R.)", "zh_HK"},
    LanguageInfo{4100, "ZHI", "Chinese (Singapore)", "zh_SG"},
    // Languages a server may run in that have no entry in the code table.
    LanguageInfo{1042, "KOR", "Korean", "ko_KR"},
    LanguageInfo{1049, "RUS", "Russian", "ru_RU"},
    LanguageInfo{1045, "PLK", "Polish", "pl_PL"},
    LanguageInfo{1029, "CSY", "Czech", "cs_CZ"},
    LanguageInfo{1038, "HUN", "Hungarian", "hu_HU"},
    LanguageInfo{1053, "SVE", "Swedish", "sv_SE"},
    LanguageInfo{1030, "DAN", "Danish", "da_DK"},
    LanguageInfo{1035, "FIN", "Finnish", "fi_FI"},
    LanguageInfo{1032, "ELL", "Greek", "el_GR"},
    LanguageInfo{1055, "TRK", "Turkish", "tr_TR"},
    LanguageInfo{1037, "HEB", "Hebrew", "he_IL"},
    LanguageInfo{1025, "ARA", "Arabic (Saudi Arabia)", "ar_SA"},
};

const LanguageInfo *findLanguage(std::int32_t id) {
    for (const auto &info : kLanguages) {
        if (info.id == id)
            return &info;
    }
    return nullptr;
}

} // namespace

std::span<const LanguageCode> languageCodeTable() {
    return kCodeTable;
}

std::int32_t CodeToLangId(std::string_view code) {
    for (const auto &row : kCodeTable) {
        if (row.code == code)
            return row.id;
    }
    return kEnglishUs;
}

std::string LangIdToCode(std::int32_t langId) {
    if (langId == kEnglishTddTty)
        return "ENX";
    const LanguageInfo *info = findLanguage(langId);
    return info ? std::string(info->code) : "ERR";
}

std::string LangIdToName(std::int32_t langId) {
    if (langId == kEnglishTddTty)
        return "English (TDD/TTY)";
    const LanguageInfo *info = findLanguage(langId);
    return info ? std::string(info->name) : "(error)";
}

std::string CodeToLanguageName(std::string_view code) {
    return LangIdToName(CodeToLangId(code));
}

std::int32_t langIdFromLocale(std::string_view locale) {
    // language[_territory][.codeset][@modifier]; a hyphen is taken as the separator too.
    locale = locale.substr(0, locale.find_first_of(".@"));
    std::string name = lowerAscii(locale);
    for (char &c : name) {
        if (c == '-')
            c = '_';
    }
    const std::size_t separator = name.find('_');
    std::string language = name.substr(0, separator);
    const std::string territory = separator == std::string::npos ? "" : name.substr(separator);
    if (language == "no")
        language = "nb"; // the old name of Norwegian Bokmål
    if (language.empty() || language == "c" || language == "posix")
        return kEnglishUs;
    const std::string wanted = language + territory;
    for (const auto &info : kLanguages) {
        if (!info.locale.empty() && lowerAscii(info.locale) == wanted)
            return info.id;
    }
    for (const auto &info : kLanguages) {
        if (info.locale.substr(0, info.locale.find('_')) == language)
            return info.id;
    }
    return kEnglishUs;
}

} // namespace zeph::i18n
