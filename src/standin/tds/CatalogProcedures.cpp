#include "CatalogProcedures.h"

#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "standin/server/ServerSql.h"

#include <algorithm>
#include <cctype>

namespace zeph::tds {
namespace {

constexpr const char *kCatalog = "TarvoDb";
constexpr const char *kOwner = "dbo";

std::string textOf(const DbValue &v) {
    return sqlite::server::isNull(v) ? std::string() : sqlite::server::asText(v);
}

std::optional<std::int64_t> intOf(const DbValue &v) {
    if (auto i = std::get_if<std::int64_t>(&v))
        return *i;
    if (auto s = std::get_if<std::string>(&v)) {
        try {
            return std::stoll(*s);
        } catch (const std::exception &) {
        }
    }
    return std::nullopt;
}

DbValue text(std::string s) {
    return DbValue(std::move(s));
}

DbValue number(std::int64_t n) {
    return DbValue(n);
}

DbRowSet withColumns(std::initializer_list<const char *> names) {
    DbRowSet rows;
    for (const char *name : names)
        rows.columns.push_back({name, false});
    return rows;
}

StatementResult resultOf(DbRowSet rows) {
    StatementResult result;
    result.count = static_cast<std::int64_t>(rows.rows.size());
    result.rows = std::move(rows);
    return result;
}

// A pattern given as NULL or empty matches every name.
bool matches(const DbValue &pattern, std::string_view name) {
    const std::string p = textOf(pattern);
    return p.empty() || likeMatch(p, name);
}

struct Table {
    std::string name;
    bool view = false;
};

// The tables and views a client sees: the stand-in's own bookkeeping tables are not the
// server's.
std::vector<Table> tablesOf(sqlite3 *db) {
    const DbRowSet found = sqlite::server::queryRows(
        db, "SELECT name, type FROM sqlite_schema WHERE type IN ('table', 'view') AND name NOT "
            "LIKE 'sqlite\\_%' ESCAPE '\\' AND name NOT LIKE 'zeph\\_%' ESCAPE '\\' ORDER BY name");
    std::vector<Table> tables;
    for (const auto &row : found.rows)
        tables.push_back({textOf(row[0]), textOf(row[1]) == "view"});
    return tables;
}

// The table types a client asks for: "'TABLE','VIEW'", "TABLE, VIEW" or nothing (all).
bool typeWanted(const DbValue &types, bool view) {
    const std::string list = textOf(types);
    if (list.empty())
        return true;
    std::string word;
    auto wanted = [&] { return equalsIgnoreCase(word, view ? "VIEW" : "TABLE"); };
    for (char c : list) {
        if (c == ',') {
            if (wanted())
                return true;
            word.clear();
        } else if (c != '\'' && c != ' ' && c != '"') {
            word += c;
        }
    }
    return wanted();
}

StatementResult tables(sqlite3 *db, const ArgumentByName &arg) {
    DbRowSet rows =
        withColumns({"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "TABLE_TYPE", "REMARKS"});
    const std::string name = textOf(arg("@table_name"));
    const std::string owner = textOf(arg("@table_owner"));
    const std::string qualifier = textOf(arg("@table_qualifier"));
    const std::string type = textOf(arg("@table_type"));
    // ODBC's special lists: every catalogue, every owner, every table type.
    if (qualifier == "%" && owner.empty() && name.empty()) {
        rows.rows.push_back({text(kCatalog), DbValue(), DbValue(), DbValue(), DbValue()});
        return resultOf(std::move(rows));
    }
    if (owner == "%" && qualifier.empty() && name.empty()) {
        rows.rows.push_back({DbValue(), text(kOwner), DbValue(), DbValue(), DbValue()});
        return resultOf(std::move(rows));
    }
    if (type == "%" && qualifier.empty() && owner.empty() && name.empty()) {
        for (const char *t : {"SYSTEM TABLE", "TABLE", "VIEW"})
            rows.rows.push_back({DbValue(), DbValue(), DbValue(), text(t), DbValue()});
        return resultOf(std::move(rows));
    }
    if (!matches(arg("@table_owner"), kOwner) || !matches(arg("@table_qualifier"), kCatalog))
        return resultOf(std::move(rows));
    for (const Table &t : tablesOf(db)) {
        if (!matches(arg("@table_name"), t.name) || !typeWanted(arg("@table_type"), t.view))
            continue;
        rows.rows.push_back({text(kCatalog), text(kOwner), text(t.name),
                             text(t.view ? "VIEW" : "TABLE"), DbValue()});
    }
    return resultOf(std::move(rows));
}

// How a column of the stand-in's declared type is told: INTEGER as int, REAL as float, and
// any other (TEXT) as nvarchar(4000), as the rows travel.
struct ColumnTypeInfo {
    std::int64_t odbcType;
    const char *name;
    std::int64_t precision;
    std::int64_t length;
    std::optional<std::int64_t> scale;
    std::optional<std::int64_t> radix;
    std::optional<std::int64_t> octets;
    std::int64_t serverType;
};

ColumnTypeInfo columnTypeInfo(const std::string &declared) {
    const std::string upper = upperAscii(declared);
    if (upper.find("INT") != std::string::npos)
        return {4, "int", 10, 4, 0, 10, std::nullopt, 56};
    if (upper.find("REAL") != std::string::npos || upper.find("FLOA") != std::string::npos ||
        upper.find("DOUB") != std::string::npos)
        return {6, "float", 15, 8, std::nullopt, 10, std::nullopt, 109};
    return {-9, "nvarchar", 4000, 8000, std::nullopt, std::nullopt, 8000, 39};
}

DbValue optional(const std::optional<std::int64_t> &v) {
    return v ? DbValue(*v) : DbValue();
}

StatementResult columns(sqlite3 *db, const ArgumentByName &arg) {
    DbRowSet rows =
        withColumns({"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "COLUMN_NAME", "DATA_TYPE",
                     "TYPE_NAME", "PRECISION", "LENGTH", "SCALE", "RADIX", "NULLABLE", "REMARKS",
                     "COLUMN_DEF", "SQL_DATA_TYPE", "SQL_DATETIME_SUB", "CHAR_OCTET_LENGTH",
                     "ORDINAL_POSITION", "IS_NULLABLE", "SS_DATA_TYPE"});
    if (!matches(arg("@table_owner"), kOwner) || !matches(arg("@table_qualifier"), kCatalog))
        return resultOf(std::move(rows));
    for (const Table &t : tablesOf(db)) {
        if (!matches(arg("@table_name"), t.name))
            continue;
        const DbRowSet info = sqlite::server::queryRows(
            db, "SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(?1)",
            {DbValue(t.name)});
        std::int64_t ordinal = 0;
        for (const auto &c : info.rows) {
            ++ordinal;
            const std::string column = textOf(c[0]);
            if (!matches(arg("@column_name"), column))
                continue;
            const ColumnTypeInfo type = columnTypeInfo(textOf(c[1]));
            const bool notNull = intOf(c[2]).value_or(0) != 0 || intOf(c[4]).value_or(0) != 0;
            rows.rows.push_back({text(kCatalog), text(kOwner), text(t.name), text(column),
                                 number(type.odbcType), text(type.name), number(type.precision),
                                 number(type.length), optional(type.scale), optional(type.radix),
                                 number(notNull ? 0 : 1), DbValue(), c[3], number(type.odbcType),
                                 DbValue(), optional(type.octets), number(ordinal),
                                 text(notNull ? "NO" : "YES"), number(type.serverType)});
        }
    }
    return resultOf(std::move(rows));
}

// The key of a table or of a view the server lets programs update, as sp_pkeys lists it.
StatementResult primaryKeys(sqlite3 *db, const ArgumentByName &arg) {
    const std::string name = textOf(arg("@table_name"));
    DbRowSet keys = withColumns(
        {"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "COLUMN_NAME", "KEY_SEQ", "PK_NAME"});
    const DbRowSet found = sqlite::server::queryRows(
        db,
        "SELECT t.name, k.name FROM pragma_table_list t, pragma_table_info(t.name) k "
        "WHERE t.schema = 'main' AND t.type = 'table' AND t.name = ?1 COLLATE NOCASE "
        "AND k.pk > 0 ORDER BY k.pk",
        {DbValue(name)});
    DbRowSet viewKeys;
    if (found.rows.empty()) {
        try {
            viewKeys = sqlite::server::queryRows(
                db,
                "SELECT ViewName, KeyColumn FROM zeph_ViewKey WHERE ViewName = ?1 COLLATE "
                "NOCASE ORDER BY rowid",
                {DbValue(name)});
        } catch (const Error &) {
            // No list of view keys: no view can be updated.
        }
    }
    std::int64_t sequence = 0;
    for (const auto &row : found.rows.empty() ? viewKeys.rows : found.rows) {
        keys.rows.push_back({text(kCatalog), text(kOwner), row[0], row[1], number(++sequence),
                             text("PK_" + textOf(row[0]))});
    }
    return resultOf(std::move(keys));
}

// SQL Server's data types as SQLGetTypeInfo lists them. ODBC 2 and 3 differ only in the date
// and time types' numbers.
struct DataType {
    const char *name;
    std::int64_t odbc3;
    std::int64_t odbc2;
    std::int64_t precision;
    const char *prefix;
    const char *suffix;
    const char *createParams;
    bool caseSensitive;
    std::int64_t searchable;
    std::optional<std::int64_t> isUnsigned;
    bool money;
    std::optional<std::int64_t> minScale;
    std::optional<std::int64_t> maxScale;
    std::optional<std::int64_t> datetimeSub;
    std::optional<std::int64_t> radix;
    std::int64_t userType;
};

const std::vector<DataType> &dataTypes() {
    using std::nullopt;
    static const std::vector<DataType> types = {
        {"sql_variant", -150, -150, 8000, nullptr, nullptr, nullptr, false, 2, nullopt, false, 0, 0,
         nullopt, 10, 0},
        {"datetimeoffset", -155, -155, 34, "'", "'", "scale", false, 3, nullopt, false, 0, 7,
         nullopt, nullopt, 0},
        {"xml", -152, -152, 0, "N'", "'", nullptr, true, 0, nullopt, false, nullopt, nullopt,
         nullopt, nullopt, 0},
        {"uniqueidentifier", -11, -11, 36, "'", "'", nullptr, false, 2, nullopt, false, nullopt,
         nullopt, nullopt, nullopt, 0},
        {"ntext", -10, -10, 1073741823, "N'", "'", nullptr, false, 1, nullopt, false, nullopt,
         nullopt, nullopt, nullopt, 0},
        {"nvarchar", -9, -9, 4000, "N'", "'", "max length", false, 3, nullopt, false, nullopt,
         nullopt, nullopt, nullopt, 0},
        {"nchar", -8, -8, 4000, "N'", "'", "length", false, 3, nullopt, false, nullopt, nullopt,
         nullopt, nullopt, 0},
        {"bit", -7, -7, 1, nullptr, nullptr, nullptr, false, 2, nullopt, false, 0, 0, nullopt,
         nullopt, 16},
        {"tinyint", -6, -6, 3, nullptr, nullptr, nullptr, false, 2, 1, false, 0, 0, nullopt, 10, 5},
        {"bigint", -5, -5, 19, nullptr, nullptr, nullptr, false, 2, 0, false, 0, 0, nullopt, 10, 0},
        {"image", -4, -4, 2147483647, "0x", nullptr, nullptr, false, 0, nullopt, false, nullopt,
         nullopt, nullopt, nullopt, 20},
        {"varbinary", -3, -3, 8000, "0x", nullptr, "max length", false, 2, nullopt, false, nullopt,
         nullopt, nullopt, nullopt, 4},
        {"binary", -2, -2, 8000, "0x", nullptr, "length", false, 2, nullopt, false, nullopt,
         nullopt, nullopt, nullopt, 3},
        {"text", -1, -1, 2147483647, "'", "'", nullptr, false, 1, nullopt, false, nullopt, nullopt,
         nullopt, nullopt, 19},
        {"char", 1, 1, 8000, "'", "'", "length", false, 3, nullopt, false, nullopt, nullopt,
         nullopt, nullopt, 1},
        {"numeric", 2, 2, 38, nullptr, nullptr, "precision,scale", false, 2, 0, false, 0, 38,
         nullopt, 10, 10},
        {"decimal", 3, 3, 38, nullptr, nullptr, "precision,scale", false, 2, 0, false, 0, 38,
         nullopt, 10, 24},
        {"money", 3, 3, 19, "$", nullptr, nullptr, false, 2, 0, true, 4, 4, nullopt, 10, 11},
        {"smallmoney", 3, 3, 10, "$", nullptr, nullptr, false, 2, 0, true, 4, 4, nullopt, 10, 21},
        {"int", 4, 4, 10, nullptr, nullptr, nullptr, false, 2, 0, false, 0, 0, nullopt, 10, 7},
        {"smallint", 5, 5, 5, nullptr, nullptr, nullptr, false, 2, 0, false, 0, 0, nullopt, 10, 6},
        {"float", 6, 6, 53, nullptr, nullptr, nullptr, false, 2, 0, false, nullopt, nullopt,
         nullopt, 2, 8},
        {"real", 7, 7, 24, nullptr, nullptr, nullptr, false, 2, 0, false, nullopt, nullopt, nullopt,
         2, 23},
        {"varchar", 12, 12, 8000, "'", "'", "max length", false, 3, nullopt, false, nullopt,
         nullopt, nullopt, nullopt, 2},
        {"date", 91, 9, 10, "'", "'", nullptr, false, 3, nullopt, false, nullopt, nullopt, 1,
         nullopt, 0},
        {"time", 92, 10, 16, "'", "'", "scale", false, 3, nullopt, false, 0, 7, 2, nullopt, 0},
        {"datetime", 93, 11, 23, "'", "'", nullptr, false, 3, nullopt, false, 3, 3, 3, nullopt, 12},
        {"datetime2", 93, 11, 27, "'", "'", "scale", false, 3, nullopt, false, 0, 7, 3, nullopt, 0},
        {"smalldatetime", 93, 11, 16, "'", "'", nullptr, false, 3, nullopt, false, 0, 0, 3, nullopt,
         22},
    };
    return types;
}

StatementResult typeInfo(const ArgumentByName &arg) {
    DbRowSet rows = withColumns({"TYPE_NAME",
                                 "DATA_TYPE",
                                 "PRECISION",
                                 "LITERAL_PREFIX",
                                 "LITERAL_SUFFIX",
                                 "CREATE_PARAMS",
                                 "NULLABLE",
                                 "CASE_SENSITIVE",
                                 "SEARCHABLE",
                                 "UNSIGNED_ATTRIBUTE",
                                 "MONEY",
                                 "AUTO_INCREMENT",
                                 "LOCAL_TYPE_NAME",
                                 "MINIMUM_SCALE",
                                 "MAXIMUM_SCALE",
                                 "SQL_DATA_TYPE",
                                 "SQL_DATETIME_SUB",
                                 "NUM_PREC_RADIX",
                                 "INTERVAL_PRECISION",
                                 "USERTYPE"});
    const std::int64_t wanted = intOf(arg("@data_type")).value_or(0);
    const bool odbc3 = intOf(arg("@ODBCVer")).value_or(2) >= 3;
    auto textOrNull = [](const char *s) { return s ? text(s) : DbValue(); };
    for (const DataType &t : dataTypes()) {
        const std::int64_t type = odbc3 ? t.odbc3 : t.odbc2;
        if (wanted != 0 && wanted != type)
            continue;
        // ODBC 3 tells a date's kind apart in SQL_DATA_TYPE (9) and SQL_DATETIME_SUB.
        const bool dated = t.datetimeSub.has_value();
        rows.rows.push_back({text(t.name),
                             number(type),
                             number(t.precision),
                             textOrNull(t.prefix),
                             textOrNull(t.suffix),
                             textOrNull(t.createParams),
                             number(1),
                             number(t.caseSensitive),
                             number(t.searchable),
                             optional(t.isUnsigned),
                             number(t.money),
                             t.isUnsigned ? number(0) : DbValue(),
                             text(t.name),
                             optional(t.minScale),
                             optional(t.maxScale),
                             number(dated && odbc3 ? 9 : type),
                             dated && odbc3 ? optional(t.datetimeSub) : DbValue(),
                             optional(t.radix),
                             DbValue(),
                             number(t.userType)});
    }
    return resultOf(std::move(rows));
}

} // namespace

std::optional<StatementResult> catalogProcedure(sqlite3 *db, std::string_view name,
                                                const ArgumentByName &arg) {
    const std::string plain = catalogProcedureName(name);
    if (plain == "sp_tables")
        return tables(db, arg);
    if (plain == "sp_columns" || plain == "sp_columns_100")
        return columns(db, arg);
    if (plain == "sp_pkeys")
        return primaryKeys(db, arg);
    if (plain == "sp_datatype_info" || plain == "sp_datatype_info_90" ||
        plain == "sp_datatype_info_100")
        return typeInfo(arg);
    return std::nullopt;
}

} // namespace zeph::tds
