#include "CatalogProcedures.h"

#include "platform/AsciiText.h"

#include <cctype>

namespace zeph::tds {

std::string catalogProcedureName(std::string_view name) {
    std::string plain = lowerAscii(name);
    for (const char *prefix : {"master.dbo.", "master..", "sys.", "dbo."}) {
        if (plain.rfind(prefix, 0) == 0)
            plain = plain.substr(std::string_view(prefix).size());
    }
    return plain;
}

std::vector<std::string_view> catalogArgumentOrder(std::string_view name) {
    const std::string plain = catalogProcedureName(name);
    if (plain == "sp_pkeys")
        return {"@table_name", "@table_owner", "@table_qualifier"};
    if (plain == "sp_tables")
        return {"@table_name", "@table_owner", "@table_qualifier", "@table_type", "@fUsePattern"};
    if (plain == "sp_columns" || plain == "sp_columns_100")
        return {"@table_name", "@table_owner", "@table_qualifier", "@column_name", "@ODBCVer"};
    if (plain == "sp_datatype_info" || plain == "sp_datatype_info_90" ||
        plain == "sp_datatype_info_100")
        return {"@data_type", "@ODBCVer"};
    return {};
}

std::optional<CatalogCall> catalogBatch(std::string_view text) {
    std::size_t at = 0;
    auto blanks = [&] {
        while (at < text.size() &&
               (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n'))
            ++at;
    };
    auto word = [&] {
        const std::size_t start = at;
        while (at < text.size() && (std::isalnum(static_cast<unsigned char>(text[at])) ||
                                    text[at] == '_' || text[at] == '.' || text[at] == '@'))
            ++at;
        return text.substr(start, at - start);
    };
    blanks();
    std::string_view name = word();
    if (equalsIgnoreCase(name, "exec") || equalsIgnoreCase(name, "execute")) {
        blanks();
        name = word();
    }
    const std::vector<std::string_view> order = catalogArgumentOrder(name);
    if (order.empty())
        return std::nullopt;
    CatalogCall call{catalogProcedureName(name), {}};
    std::size_t position = 0;
    blanks();
    while (at < text.size() && text[at] != ';') {
        if (position > 0) {
            if (text[at] != ',')
                return std::nullopt;
            ++at;
            blanks();
        }
        std::string argName;
        if (at < text.size() && text[at] == '@') {
            argName = std::string(word());
            blanks();
            if (at >= text.size() || text[at] != '=')
                return std::nullopt;
            ++at;
            blanks();
        } else if (position < order.size()) {
            argName = std::string(order[position]);
        } else {
            return std::nullopt;
        }
        DbValue value;
        if (at < text.size() &&
            (text[at] == '\'' || ((text[at] == 'N' || text[at] == 'n') && at + 1 < text.size() &&
                                  text[at + 1] == '\''))) {
            at = text.find('\'', at) + 1;
            std::string s;
            for (;;) {
                if (at >= text.size())
                    return std::nullopt;
                if (text[at] == '\'') {
                    if (at + 1 < text.size() && text[at + 1] == '\'') {
                        s += '\'';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                s += text[at++];
            }
            value = std::move(s);
        } else {
            const std::size_t start = at;
            if (at < text.size() && (text[at] == '-' || text[at] == '+'))
                ++at;
            while (at < text.size() && std::isalnum(static_cast<unsigned char>(text[at])))
                ++at;
            const std::string_view token = text.substr(start, at - start);
            if (equalsIgnoreCase(token, "null")) {
                value = DbValue();
            } else {
                try {
                    std::size_t used = 0;
                    value = static_cast<std::int64_t>(std::stoll(std::string(token), &used));
                    if (used != token.size())
                        return std::nullopt;
                } catch (const std::exception &) {
                    return std::nullopt;
                }
            }
        }
        call.arguments.push_back({argName, DbParamType::Text, std::move(value)});
        ++position;
        blanks();
    }
    if (at < text.size())
        ++at; // the closing ';'
    blanks();
    if (at != text.size())
        return std::nullopt;
    return call;
}

bool likeMatch(std::string_view pattern, std::string_view text) {
    // Iterative matching with one saved place for the last '%' seen.
    std::size_t p = 0, t = 0, starP = std::string_view::npos, starT = 0;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    // Matches one character of `text` at the pattern's place; gives the pattern's next place.
    auto one = [&](std::size_t at, char c, std::size_t &next) {
        if (pattern[at] == '_') {
            next = at + 1;
            return true;
        }
        if (pattern[at] == '[') {
            const std::size_t close = pattern.find(']', at + 1);
            if (close != std::string_view::npos && close > at + 1) {
                next = close + 1;
                std::string_view set = pattern.substr(at + 1, close - at - 1);
                const bool negate = set.size() > 1 && set[0] == '^';
                if (negate)
                    set.remove_prefix(1);
                bool in = false;
                for (std::size_t i = 0; i < set.size(); ++i) {
                    if (i + 2 < set.size() && set[i + 1] == '-') {
                        in |= lower(c) >= lower(set[i]) && lower(c) <= lower(set[i + 2]);
                        i += 2;
                    } else {
                        in |= lower(c) == lower(set[i]);
                    }
                }
                return in != negate;
            }
        }
        next = at + 1;
        return lower(pattern[at]) == lower(c);
    };
    while (t < text.size()) {
        std::size_t next = 0;
        if (p < pattern.size() && pattern[p] == '%') {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() && one(p, text[t], next)) {
            p = next;
            ++t;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '%')
        ++p;
    return p == pattern.size();
}

} // namespace zeph::tds
