#include "TsqlFunctions.h"

#include "SqliteStatement.h"
#include "platform/AsciiText.h"

#include <sqlite3.h>

namespace zeph::sqlite {
namespace {

using sqltext::TsqlError;
using sqltext::TsqlType;
using sqltext::TsqlValue;

TsqlValue valueOf(sqlite3_value *v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return TsqlValue::integer(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
        return TsqlValue::real(sqlite3_value_double(v));
    case SQLITE_TEXT: {
        const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(v));
        return TsqlValue::text(std::string(text, static_cast<std::size_t>(sqlite3_value_bytes(v))));
    }
    case SQLITE_BLOB: {
        const auto *bytes = static_cast<const char *>(sqlite3_value_blob(v));
        return TsqlValue::blob(
            bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_value_bytes(v))) : "");
    }
    default:
        return TsqlValue::null();
    }
}

std::string textOf(sqlite3_value *v) {
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(v));
    return text ? std::string(text) : std::string();
}

TsqlType typeOf(sqlite3_value *v) {
    const int code = sqlite3_value_int(v);
    if (code < 0 || code > static_cast<int>(TsqlType::Date))
        return TsqlType::Unknown;
    return static_cast<TsqlType>(code);
}

void give(sqlite3_context *ctx, const TsqlValue &v) {
    switch (v.kind) {
    case TsqlValue::Int:
        sqlite3_result_int64(ctx, v.i);
        break;
    case TsqlValue::Float:
        sqlite3_result_double(ctx, v.f);
        break;
    case TsqlValue::Text:
        sqlite3_result_text(ctx, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
        break;
    case TsqlValue::Blob:
        sqlite3_result_blob(ctx, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
        break;
    default:
        sqlite3_result_null(ctx);
    }
}

// Runs a function's body; a failure becomes the statement's error, with SQL Server's number.
template <typename Body> void guarded(sqlite3_context *ctx, Body body) {
    try {
        give(ctx, body());
    } catch (const TsqlError &e) {
        const std::string carried = sqltext::carriedError(e);
        sqlite3_result_error(ctx, carried.c_str(), static_cast<int>(carried.size()));
    } catch (const std::bad_alloc &) {
        sqlite3_result_error_nomem(ctx);
    } catch (const std::exception &e) {
        sqlite3_result_error(ctx, e.what(), -1);
    }
}

void tsqlCast(sqlite3_context *ctx, int, sqlite3_value **argv) {
    guarded(ctx, [&] {
        sqltext::TsqlTarget to = sqltext::targetOf(textOf(argv[1]), sqlite3_value_int(argv[2]),
                                                   sqlite3_value_int(argv[3]));
        to.style = sqlite3_value_int(argv[4]);
        return sqltext::convert(valueOf(argv[0]), typeOf(argv[5]), to);
    });
}

void tsqlDateKey(sqlite3_context *ctx, int, sqlite3_value **argv) {
    guarded(ctx, [&] { return sqltext::dateKey(valueOf(argv[0]), typeOf(argv[1])); });
}

void tsqlNum(sqlite3_context *ctx, int, sqlite3_value **argv) {
    guarded(ctx, [&] { return sqltext::toNumber(valueOf(argv[0]), sqlite3_value_int(argv[1])); });
}

void tsqlAdd(sqlite3_context *ctx, int, sqlite3_value **argv) {
    guarded(ctx, [&] { return sqltext::add(valueOf(argv[0]), valueOf(argv[1])); });
}

void tsqlArith(sqlite3_context *ctx, int, sqlite3_value **argv) {
    guarded(ctx, [&] {
        const std::string op = textOf(argv[0]);
        return sqltext::arithmetic(op.empty() ? '+' : op[0], valueOf(argv[1]), valueOf(argv[2]));
    });
}

void tsqlLen(sqlite3_context *ctx, int, sqlite3_value **argv) {
    guarded(ctx, [&] { return sqltext::length(valueOf(argv[0])); });
}

void tsqlLike(sqlite3_context *ctx, int, sqlite3_value **argv) {
    guarded(ctx, [&] {
        const TsqlValue text = valueOf(argv[0]);
        const TsqlValue pattern = valueOf(argv[1]);
        if (text.kind == TsqlValue::Null || pattern.kind == TsqlValue::Null)
            return TsqlValue::null();
        const std::string escape = textOf(argv[2]);
        auto asText = [](const TsqlValue &v) {
            return v.kind == TsqlValue::Int     ? std::to_string(v.i)
                   : v.kind == TsqlValue::Float ? std::to_string(v.f)
                                                : v.s;
        };
        return TsqlValue::integer(
            sqltext::likeMatches(asText(text), asText(pattern), escape.empty() ? 0 : escape[0]));
    });
}

void tsqlNow(sqlite3_context *ctx, int, sqlite3_value **argv) {
    guarded(ctx, [&] { return TsqlValue::text(sqltext::now(typeOf(argv[0]))); });
}

void tsqlDateAdd(sqlite3_context *ctx, int, sqlite3_value **argv) {
    guarded(ctx, [&] {
        return sqltext::dateAdd(textOf(argv[0]), valueOf(argv[1]), valueOf(argv[2]),
                                typeOf(argv[3]));
    });
}

void tsqlDateDiff(sqlite3_context *ctx, int, sqlite3_value **argv) {
    guarded(ctx, [&] {
        return sqltext::dateDiff(textOf(argv[0]), valueOf(argv[1]), typeOf(argv[2]),
                                 valueOf(argv[3]), typeOf(argv[4]));
    });
}

void tsqlDatePart(sqlite3_context *ctx, int, sqlite3_value **argv) {
    guarded(ctx,
            [&] { return sqltext::datePart(textOf(argv[0]), valueOf(argv[1]), typeOf(argv[2])); });
}

TsqlType declaredType(std::string_view declared) {
    const std::string t = upperAscii(declared);
    if (t.find("DATETIME2") != std::string::npos)
        return TsqlType::DateTime2;
    if (t.find("SMALLDATETIME") != std::string::npos)
        return TsqlType::SmallDateTime;
    if (t.find("DATETIME") != std::string::npos)
        return TsqlType::DateTime;
    if (t == "DATE")
        return TsqlType::Date;
    if (t.find("INT") != std::string::npos || t == "BIT")
        return TsqlType::Int;
    if (t.find("CHAR") != std::string::npos || t.find("CLOB") != std::string::npos ||
        t.find("TEXT") != std::string::npos)
        return TsqlType::Text;
    if (t.find("REAL") != std::string::npos || t.find("FLOA") != std::string::npos ||
        t.find("DOUB") != std::string::npos)
        return TsqlType::Float;
    if (t.find("BLOB") != std::string::npos || t.find("BINARY") != std::string::npos)
        return TsqlType::Binary;
    return TsqlType::Unknown;
}

} // namespace

void registerTsqlFunctions(sqlite3 *db) {
    struct Function {
        const char *name;
        int arguments;
        void (*body)(sqlite3_context *, int, sqlite3_value **);
        bool deterministic;
    };
    static const Function functions[] = {
        {"tsql_cast", 6, tsqlCast, true},         {"tsql_datekey", 2, tsqlDateKey, true},
        {"tsql_num", 2, tsqlNum, true},           {"tsql_add", 2, tsqlAdd, true},
        {"tsql_arith", 3, tsqlArith, true},       {"tsql_len", 1, tsqlLen, true},
        {"tsql_like", 3, tsqlLike, true},         {"tsql_now", 1, tsqlNow, false},
        {"tsql_dateadd", 4, tsqlDateAdd, true},   {"tsql_datediff", 5, tsqlDateDiff, true},
        {"tsql_datepart", 3, tsqlDatePart, true},
    };
    for (const Function &f : functions) {
        const int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
        const int rc = sqlite3_create_function_v2(db, f.name, f.arguments, flags, nullptr, f.body,
                                                  nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            throwError(db, rc);
    }
}

sqltext::TsqlCatalogue tsqlCatalogue(sqlite3 *db, const std::vector<std::string> &dateTimeColumns) {
    sqltext::TsqlCatalogue catalogue;
    std::unordered_map<std::string, bool> mixed;
    Statement stmt(db, "SELECT c.name, c.type FROM sqlite_schema AS m "
                       "JOIN pragma_table_info(m.name) AS c "
                       "WHERE m.type IN ('table', 'view') AND m.name NOT LIKE 'sqlite\\_%' "
                       "ESCAPE '\\'");
    while (stmt.step()) {
        const DbValue name = stmt.value(0);
        const DbValue type = stmt.value(1);
        const auto *n = std::get_if<std::string>(&name);
        if (!n)
            continue;
        const auto *t = std::get_if<std::string>(&type);
        const TsqlType declared = declaredType(t ? *t : std::string());
        const std::string key = upperAscii(*n);
        auto [it, added] = catalogue.columns.emplace(key, declared);
        if (!added && it->second != declared)
            it->second = TsqlType::Unknown; // the name means different things in different tables
    }
    for (const std::string &column : dateTimeColumns)
        catalogue.columns[upperAscii(column)] = TsqlType::DateTime;
    return catalogue;
}

} // namespace zeph::sqlite
