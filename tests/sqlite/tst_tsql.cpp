// T-SQL on the stand-in's database: an expression gives SQL Server's value or SQL Server's
// error number, and what SQL Server does not take (or the stand-in does not run) is refused,
// never run with SQLite's own meaning. Each expression runs for real: translated, then
// evaluated by SQLite with the tsql_* functions installed.
#include "platform/sqlite/SqliteStatement.h"
#include "platform/sqlite/TsqlFunctions.h"
#include "platform/sqltext/Tsql.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <variant>

namespace {

using namespace zeph;
using namespace zeph::sqltext;

class Tsql : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sqlite3_open(":memory:", &m_db), SQLITE_OK);
        sqlite::exec(m_db, "CREATE TABLE Subscriber (Alias TEXT COLLATE NOCASE, Type INTEGER, "
                           "Extension TEXT, CreationTime TEXT COLLATE NOCASE);"
                           "INSERT INTO Subscriber VALUES "
                           "('old', 1, '4001', '2005-01-03 00:07:00'),"
                           "('mid', 2, '4002', '2019-07-04 23:59:59'),"
                           "('new', 3, 'x4003', '2026-12-07 08:00:00'),"
                           "('none', 1, NULL, NULL);");
        sqlite::registerTsqlFunctions(m_db);
        m_catalogue = sqlite::tsqlCatalogue(m_db, {"CreationTime"});
    }
    void TearDown() override { sqlite3_close(m_db); }

    // The rows of a query, each value as text ("NULL" for null, "0x.." for bytes); or the error.
    std::vector<std::string> rows(const std::string &tsql) {
        const TsqlQuery q = translateSelect(tsql, m_catalogue);
        std::vector<DbValue> values;
        for (const auto &v : q.variables)
            values.emplace_back(v == "DB_NAME()" ? std::string("TarvoDb") : v);
        std::vector<std::string> out;
        try {
            sqlite::Statement stmt(m_db, q.sql);
            stmt.bindAll(values);
            while (stmt.step()) {
                std::string row;
                for (int c = 0; c < stmt.columnCount(); ++c) {
                    row += c ? "|" : "";
                    row += shown(stmt, c);
                }
                out.push_back(row);
            }
        } catch (const Error &e) {
            if (auto server = serverErrorOf(e.description()))
                throw *server;
            throw;
        }
        return out;
    }

    std::string shown(sqlite::Statement &stmt, int c) {
        sqlite3_stmt *s = stmt.get();
        switch (sqlite3_column_type(s, c)) {
        case SQLITE_NULL:
            return "NULL";
        case SQLITE_BLOB: {
            static const char hex[] = "0123456789ABCDEF";
            std::string text = "0x";
            const auto *bytes = static_cast<const unsigned char *>(sqlite3_column_blob(s, c));
            for (int i = 0; i < sqlite3_column_bytes(s, c); ++i)
                text += std::string{hex[bytes[i] >> 4], hex[bytes[i] & 15]};
            return text;
        }
        case SQLITE_FLOAT: {
            char text[40];
            std::snprintf(text, sizeof text, "%.10g", sqlite3_column_double(s, c));
            return std::string("f:") + text;
        }
        default:
            return reinterpret_cast<const char *>(sqlite3_column_text(s, c));
        }
    }

    // An expression's one value, or "error N".
    std::string value(const std::string &expression) {
        try {
            const auto r = rows("SELECT " + expression);
            return r.size() == 1 ? r[0] : "rows: " + std::to_string(r.size());
        } catch (const TsqlError &e) {
            return "error " + std::to_string(e.number());
        }
    }

    sqlite3 *m_db = nullptr;
    TsqlCatalogue m_catalogue;
};

TEST_F(Tsql, ExpressionsGiveSqlServersValueOrItsErrorNumber) {
    struct Case {
        const char *expression;
        const char *expected;
    };
    const Case cases[] = {
        // Dates are dates, not numbers or plain text.
        {"CAST('2024-01-01' AS datetime)", "2024-01-01 00:00:00.000"},
        {"CAST('20240101 13:05' AS datetime)", "2024-01-01 13:05:00.000"},
        {"CAST('2024-01-01T10:11:12.0049' AS datetime2)", "2024-01-01 10:11:12.0049000"},
        {"CAST('2024-01-01 10:11:12.002' AS datetime)", "2024-01-01 10:11:12.003"},
        {"CAST('2024-01-01 10:11:12.0049' AS datetime)", "error 241"},
        {"CAST('12/31/2024 11:59:59 PM' AS datetime)", "2024-12-31 23:59:59.000"},
        {"CAST('2024-02-30' AS datetime)", "error 242"},
        {"CAST('2024-02-30' AS date)", "error 241"},
        {"CAST('1752-12-31' AS datetime)", "error 242"},
        {"CAST('1752-12-31' AS datetime2)", "1752-12-31 00:00:00.0000000"},
        {"CAST('soon' AS datetime)", "error 241"},
        {"CAST('2024-06-30 23:59:59.999' AS datetime)", "2024-07-01 00:00:00.000"},
        {"CAST('2024-06-30 18:30' AS date)", "2024-06-30"},
        {"CAST(1 AS datetime)", "1900-01-02 00:00:00.000"},
        {"CAST(1 AS date)", "error 529"},
        {"CONVERT(datetime, '05/03/2024', 103)", "2024-03-05 00:00:00.000"},
        {"CONVERT(varchar(8), CAST('2024-03-05' AS datetime), 112)", "20240305"},
        {"CONVERT(varchar, CAST('2024-03-05 14:07' AS datetime), 120)", "2024-03-05 14:07:00"},
        {"CONVERT(varchar(30), CAST('2024-03-05 14:07' AS datetime))", "Mar  5 2024  2:07PM"},
        {"CONVERT(varchar, CAST('2024-03-05' AS datetime), 999)", "error 281"},
        {"CAST('2024-01-31' AS datetime) + 1", "2024-02-01 00:00:00.000"},
        {"CAST('2024-01-31' AS date) + 1", "error 8117"},
        {"DATEADD(month, 1, CAST('2024-01-31' AS datetime))", "2024-02-29 00:00:00.000"},
        {"DATEADD(day, -1, CAST('2024-03-01' AS date))", "2024-02-29"},
        {"DATEDIFF(day, '2024-01-01', '2024-03-01')", "60"},
        {"DATEDIFF(year, '2024-12-31', '2025-01-01')", "1"},
        {"DATEPART(weekday, '2026-12-07')", "2"},
        {"YEAR('2024-05-06') * 100 + MONTH('2024-05-06')", "202405"},
        {"DATEADD(fortnight, 1, GETDATE())", "error 155"},
        {"LEN(CONVERT(varchar(30), GETDATE(), 121))", "23"},
        {"LEN(CONVERT(varchar(30), SYSDATETIME(), 121))", "27"},
        // '+' joins strings; numbers beside strings make the strings numbers.
        {"'a' + 'b'", "ab"},
        {"N'Zé' + N'phrane'", "Zéphrane"},
        {"'a' + NULL", "NULL"},
        {"'5' + 1", "6"},
        {"'a' + 1", "error 245"},
        {"1 + 2 * 3", "7"},
        {"0x41 + 0x42", "0x4142"},
        {"0x41 + 'B'", "error 402"},
        // Integer division truncates; by zero it is an error, not NULL.
        {"7 / 2", "3"},
        {"-7 / 2", "-3"},
        {"7 % 3", "1"},
        {"7.0 / 2", "f:3.5"},
        {"1 / 0", "error 8134"},
        {"1 % 0", "error 8134"},
        {"1.5 / 0", "error 8134"},
        {"'8' / 2", "4"},
        {"CAST('9223372036854775807' AS bigint) + 1", "error 8115"},
        // Binary literals are bytes.
        {"0x414243", "0x414243"},
        {"0x123", "0x0123"},
        {"CAST(0x414243 AS int)", "4276803"},
        {"CAST(0x414243 AS varchar(3))", "ABC"},
        {"CAST('AB' AS varbinary(2))", "0x4142"},
        {"CAST(258 AS binary(2))", "0x0102"},
        // Conversions.
        {"CAST('abc' AS int)", "error 245"},
        {"CAST('' AS int)", "0"},
        {"CAST(' 12 ' AS int)", "12"},
        {"CAST('1.5' AS int)", "error 245"},
        {"CAST(1.9 AS int)", "1"},
        {"CAST(300 AS tinyint)", "error 8115"},
        {"CAST('1.25' AS decimal(5,1))", "f:1.3"},
        {"CAST('1.5' AS decimal)", "2"},
        {"CAST('x' AS decimal)", "error 8114"},
        {"CAST(12345 AS varchar(2))", "*"},
        {"CAST('abcdef' AS varchar(3))", "abc"},
        {"CAST('ab' AS char(4)) + '|'", "ab  |"},
        {"CAST(1 AS nosuchtype)", "error 243"},
        // Functions of SQL Server.
        {"LEN('abc  ')", "3"},
        {"LEN(N'日本語')", "3"},
        {"LEN(NULL)", "NULL"},
        {"ISNULL(NULL, 'x')", "x"},
        {"ISNULL(CAST(NULL AS int), '7') + 1", "8"},
        {"COALESCE(NULL, NULL, 3)", "3"},
        {"UPPER('abc') + LOWER('DEF')", "ABCdef"},
        {"SUBSTRING('abcdef', 2, 3)", "bcd"},
        {"LEFT('abcdef', 2) + RIGHT('abcdef', 2)", "abef"},
        {"CONCAT('a', NULL, 1)", "a1"},
        {"DB_NAME()", "TarvoDb"},
        {"CASE WHEN 1 = 1 THEN 'y' ELSE 'n' END", "y"},
        {"CASE 2 WHEN 1 THEN 'one' WHEN 2 THEN 'two' END", "two"},
        {"CASE WHEN 'abc' LIKE '[a-c]B%' THEN 1 ELSE 0 END", "1"},
        {"CASE WHEN 'abc' LIKE '[^a]%' THEN 1 ELSE 0 END", "0"},
        {"CASE WHEN '10' > 9 THEN 1 ELSE 0 END", "1"},
        {"CASE WHEN 'abc' = 1 THEN 1 ELSE 0 END", "error 245"},
        {"CASE WHEN CAST('2024-01-01 00:00:00.003' AS datetime) = '2024-01-01 00:00:00.003' "
         "THEN 1 ELSE 0 END",
         "1"},
        {"CASE WHEN CAST('2024-01-01' AS date) = CAST('2024-01-01' AS datetime) THEN 1 ELSE 0 "
         "END",
         "1"},
        {"CASE WHEN '2024-01-02' BETWEEN CAST('2024-01-01' AS date) AND '2024-01-03' THEN 1 "
         "ELSE 0 END",
         "1"},
        // What SQLite has and SQL Server has not: refused as SQL Server refuses it.
        {"length('x')", "error 195"},
        {"datetime('now')", "error 195"},
        {"ifnull(1, 2)", "error 195"},
        {"substr('abc', 1, 1)", "error 195"},
        {"typeof(1)", "error 195"},
        {"'a' || 'b'", "error 102"},
        {"1 = 1", "error 102"},
        {"1 +", "error 102"},
        {"CAST(1 AS int", "error 102"},
        {"@x", "@x"}, // a variable is the caller's to bind (here: to its own name)
        {"@@VERSION", "error 40517"},
        {"dbo.f(1)", "error 4121"},
        // What SQL Server has and the stand-in does not run: refused, not guessed.
        {"REPLACE('a', 'a', 'b')", "error 40517"},
        {"NEWID()", "error 40517"},
        {"'a' COLLATE Latin1_General_CS_AS", "error 40517"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(value(c.expression), c.expected) << c.expression;
}

TEST_F(Tsql, DateColumnsAreComparedAsDatesNotAsText) {
    struct Case {
        const char *where;
        std::vector<std::string> aliases;
    };
    const Case cases[] = {
        {"CreationTime > CAST('2030-01-01' AS datetime)", {}},
        {"CreationTime > CAST('2019-07-04 23:59:59' AS datetime)", {"new"}},
        {"CreationTime >= '2019-07-04 23:59:59'", {"mid", "new"}},
        // Text order would put "2005-..." after "12/..."; as dates it is before.
        {"CreationTime < '12/31/2005'", {"old"}},
        {"CreationTime BETWEEN '1/1/2019' AND '20200101'", {"mid"}},
        {"CreationTime IN ('2005-01-03T00:07:00', '07/04/2019 11:59:59 PM')", {"old", "mid"}},
        {"YEAR(CreationTime) = 2026", {"new"}},
        {"DATEDIFF(day, CreationTime, '2026-12-08') = 1", {"new"}},
        {"CreationTime > DATEADD(year, -10, CAST('2026-12-07' AS date))", {"mid", "new"}},
        {"CreationTime IS NULL", {"none"}},
        {"Alias + '-' + Extension = 'mid-4002'", {"mid"}},
        {"Type / 2 = 1", {"mid", "new"}},
        {"Extension LIKE '400[12]'", {"old", "mid"}},
        {"LEN(Alias) = 4", {"none"}},
    };
    for (const Case &c : cases) {
        std::vector<std::string> got;
        try {
            got = rows(std::string("SELECT Alias FROM Subscriber WHERE ") + c.where +
                       " ORDER BY CreationTime");
        } catch (const TsqlError &e) {
            ADD_FAILURE() << c.where << ": " << e.number() << " " << e.what();
            continue;
        }
        EXPECT_EQ(got, c.aliases) << c.where;
    }
    // A text that is no date, beside a date column, is SQL Server's error.
    EXPECT_THROW(rows("SELECT Alias FROM Subscriber WHERE CreationTime > 'later'"), TsqlError);
    // A number beside a text column: every value must be one.
    try {
        rows("SELECT Alias FROM Subscriber WHERE Extension = 4001");
        ADD_FAILURE() << "a text that is no number was compared with a number";
    } catch (const TsqlError &e) {
        EXPECT_EQ(e.number(), 245) << e.what();
        EXPECT_STREQ(e.what(), "Conversion failed when converting the varchar value 'x4003' to "
                               "data type int.");
    }
}

TEST_F(Tsql, QueriesAreReadWholeAndWhatIsNotUnderstoodIsRefused) {
    struct Case {
        const char *tsql;
        int number; // 0: runs
    };
    const Case cases[] = {
        {"SELECT TOP 2 Alias FROM dbo.Subscriber ORDER BY Alias DESC", 0},
        {"SELECT TOP (1) s.* FROM TarvoDb.dbo.Subscriber AS s WITH (NOLOCK)", 0},
        {"SELECT Name = Alias, [Kind] = Type FROM Subscriber s", 0},
        {"SELECT Alias FROM Subscriber WHERE EXISTS (SELECT 1 FROM Subscriber t WHERE t.Type = "
         "Subscriber.Type AND t.Alias <> Subscriber.Alias)",
         0},
        {"SELECT Type, COUNT(*) AS n FROM Subscriber GROUP BY Type HAVING COUNT(*) > 1", 0},
        {"WITH x (a) AS (SELECT Alias FROM Subscriber) SELECT a FROM x UNION ALL SELECT 'y'", 0},
        {"SELECT Alias FROM Subscriber ORDER BY Alias OFFSET 1 ROWS FETCH NEXT 2 ROWS ONLY", 0},
        {"SELECT Alias FROM Subscriber WHERE NOT (Type = 1 OR Type = 2);", 0},
        {"SELECT a.Alias FROM Subscriber a JOIN Subscriber b ON a.Alias = b.Alias", 0},
        {"SELECT a.Alias FROM Subscriber a LEFT OUTER JOIN Subscriber b ON a.Type = b.Type", 0},
        {"SELECT * FROM NoSuchTable", 208},
        {"SELECT * FROM sqlite_master", 208},
        {"SELECT * FROM master.dbo.sysobjects", 208},
        {"SELECT * FROM pragma_table_info('Subscriber')", 208},
        {"SELECT NoSuchColumn FROM Subscriber", 207},
        {"SELECT x.Alias FROM Subscriber", 4104},
        {"SELECT Alias FROM Subscriber WHERE Type", 4145},
        {"SELECT Alias FROM Subscriber WHERE", 102},
        {"SELECT Alias FROM Subscriber LIMIT 1", 102},
        {"SELECT Alias FROM Subscriber WHERE Alias GLOB 'a*'", 102},
        {"SELECT Alias FROM Subscriber WHERE Alias REGEXP 'a'", 102},
        {"SELECT Alias FROM Subscriber WHERE Alias = ?", 102},
        {"SELECT Alias FROM Subscriber WHERE Alias = :a", 102},
        {"SELECT Alias FROM Subscriber WHERE Alias = $a", 102},
        {"SELECT Alias FROM Subscriber; DELETE FROM Subscriber", 102},
        {"SELECT Alias INTO Copy FROM Subscriber", 102},
        {"SELECT TOP 1 Alias FROM Subscriber UNION SELECT 'x'", 40517},
        {"SELECT 'unclosed", 105},
        {"SELECT 1 /* unclosed", 113},
        {"SELECT ROW_NUMBER() OVER (ORDER BY Alias) FROM Subscriber", 40517},
    };
    for (const Case &c : cases) {
        int number = 0;
        try {
            rows(c.tsql);
        } catch (const TsqlError &e) {
            number = e.number();
        } catch (const Error &e) {
            number = -1;
            ADD_FAILURE() << c.tsql << ": the database's own failure: " << e.description();
        }
        EXPECT_EQ(number, c.number) << c.tsql;
    }
    EXPECT_EQ(rows("SELECT TOP 2 Alias FROM dbo.Subscriber ORDER BY Alias DESC"),
              (std::vector<std::string>{"old", "none"}));
    EXPECT_EQ(rows("SELECT Alias FROM Subscriber ORDER BY Alias OFFSET 1 ROWS FETCH NEXT 2 "
                   "ROWS ONLY"),
              (std::vector<std::string>{"new", "none"}));
}

TEST(TsqlFailures, TheDatabasesOwnWordsBecomeSqlServers) {
    struct Case {
        const char *message;
        const char *statement;
        int number;
        const char *text;
    };
    const Case cases[] = {
        {"no such table: main.Nope", "", 208, "Invalid object name 'Nope'."},
        {"no such column: Nope", "", 207, "Invalid column name 'Nope'."},
        {"NOT NULL constraint failed: Subscriber.Alias", "UPDATE", 515,
         "Cannot insert the value NULL into column 'Alias', table 'TarvoDb.dbo.Subscriber'; "
         "column does not allow nulls. UPDATE fails."},
        {"UNIQUE constraint failed: Subscriber.Alias", "INSERT", 2627,
         "Violation of UNIQUE KEY constraint 'UQ_Subscriber_Alias'. Cannot insert duplicate key "
         "in object 'dbo.Subscriber'."},
        {"Could not find stored procedure 'sp_Nope'.", "", 2812,
         "Could not find stored procedure 'sp_Nope'."},
    };
    for (const Case &c : cases) {
        const auto e = serverErrorOf(c.message, c.statement);
        ASSERT_TRUE(e) << c.message;
        EXPECT_EQ(e->number(), c.number);
        EXPECT_STREQ(e->what(), c.text);
    }
    const auto pk = serverErrorOf("UNIQUE constraint failed: Subscriber.SubscriberObjectID", "",
                                  [](const std::string &, const std::string &) { return true; });
    ASSERT_TRUE(pk);
    EXPECT_STREQ(pk->what(), "Violation of PRIMARY KEY constraint 'PK_Subscriber'. Cannot insert "
                             "duplicate key in object 'dbo.Subscriber'.");
    EXPECT_FALSE(serverErrorOf("disk I/O error"));
    const TsqlError carried = *carriedErrorOf(carriedError(TsqlError(8134, "Divide by zero.")));
    EXPECT_EQ(carried.number(), 8134);
    EXPECT_STREQ(carried.what(), "Divide by zero.");
}

} // namespace
