// T-SQL as the server takes it: the statements Zephrane and a client library send are turned
// into what the stand-in database runs, anything else refused with SQL Server's number.
#include "standin/tds/TsqlTranslation.h"

#include <gtest/gtest.h>

using namespace zeph;
using namespace zeph::tds;

namespace {

TEST(TsqlTranslation, QueriesKeepTheirTextWithNamedParametersMadePositional) {
    struct Case {
        const char *tsql;
        const char *sql;
        std::vector<int> parameters;
    };
    const std::vector<std::string> declared = {"@P1", "@P2", "@P3"};
    const Case cases[] = {
        // A query is read whole and written out again in the database's own text.
        {"SELECT * FROM Subscriber WHERE Alias=@P1",
         "SELECT * FROM \"Subscriber\" WHERE Alias = ?",
         {1}},
        {"SELECT x FROM t WHERE a<= CAST(@P2 as BigInt) AND a>=CAST(@P1 as BigInt)",
         "SELECT x FROM \"t\" WHERE (a <= tsql_cast(?, 'bigint', -1, 0, -1, 0) AND "
         "a >= tsql_cast(?, 'bigint', -1, 0, -1, 0))",
         {2, 1}},
        {"UPDATE \"T\" SET \"A\" = @P1 WHERE \"K\" = @p3",
         "UPDATE \"T\" SET \"A\" = ? WHERE \"K\" = ?",
         {1, 3}},
        {"SELECT '@P1', N'it''s' FROM [My Table]",
         "SELECT '@P1' AS \"\", 'it''s' AS \"\" FROM \"My Table\"",
         {}},
        {"SELECT a -- @P9 is a comment\nFROM t", "SELECT a FROM \"t\"", {}},
        {"CREATE TABLE zeph_WriteProbe (x INT)", "CREATE TABLE zeph_WriteProbe (x INT)", {}},
        // T-SQL's comments nest; the database's do not, so none reaches it.
        {"UPDATE t SET a = 1 /* x /* y */ @P2 */ WHERE b = @P1 -- @P3",
         "UPDATE t SET a = 1 WHERE b = ?",
         {1}},
        {"DELETE FROM t/**/WHERE a = N'/* not a comment'",
         "DELETE FROM t WHERE a = '/* not a comment'",
         {}},
    };
    for (const auto &c : cases) {
        auto statements = translate(c.tsql, declared);
        ASSERT_EQ(statements.size(), 1u) << c.tsql;
        EXPECT_EQ(statements[0].kind, StatementKind::Query);
        EXPECT_EQ(statements[0].sql, c.sql);
        EXPECT_EQ(statements[0].parameters, c.parameters) << c.tsql;
    }
}

TEST(TsqlTranslation, ProceduresAreCalledWithArgumentsByName) {
    auto s = translate("EXEC dbo.sp_DeleteSubscriber @SubscriberObjectID = @P1, @ForceRemove = 1, "
                       "@Note = N'x', @Ticket = NULL, @Neg = -5",
                       {"@P1"});
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].kind, StatementKind::Exec);
    EXPECT_EQ(s[0].procedure, "dbo.sp_DeleteSubscriber");
    ASSERT_EQ(s[0].arguments.size(), 5u);
    EXPECT_EQ(s[0].arguments[0].parameter, 1);
    EXPECT_EQ(s[0].arguments[1].literal, DbValue(std::int64_t{1}));
    EXPECT_EQ(s[0].arguments[2].literal, DbValue(std::string("x")));
    EXPECT_EQ(s[0].arguments[3].literal, DbValue());
    EXPECT_EQ(s[0].arguments[4].literal, DbValue(std::int64_t{-5}));
}

TEST(TsqlTranslation, SessionOptionsAndTransactionsOfAClientLibrary) {
    auto s = translate("SET TEXTSIZE 2147483647 SET IMPLICIT_TRANSACTIONS ON; "
                       "IF @@TRANCOUNT > 0 COMMIT TRAN BEGIN TRANSACTION ROLLBACK",
                       {});
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(s[0].kind, StatementKind::SetOption);
    EXPECT_EQ(s[1].option, "IMPLICIT_TRANSACTIONS");
    EXPECT_TRUE(s[1].on);
    EXPECT_EQ(s[2].kind, StatementKind::Commit);
    EXPECT_TRUE(s[2].ifOpen);
    EXPECT_EQ(s[3].kind, StatementKind::BeginTransaction);
    EXPECT_EQ(s[4].kind, StatementKind::Rollback);
    EXPECT_FALSE(s[4].ifOpen);
    EXPECT_TRUE(translate("  -- nothing\n /* at all */ ;", {}).empty());
}

TEST(TsqlTranslation, WhatTheServerDoesNotRunIsRefusedWithItsNumber) {
    struct Case {
        const char *tsql;
        int number;
    };
    const Case cases[] = {
        {"PRAGMA writable_schema=1", tsqlerr::kSyntax},
        {"ATTACH DATABASE 'x' AS y", tsqlerr::kSyntax},
        {"VACUUM", tsqlerr::kSyntax},
        {"SELECT * FROM sqlite_schema", 208},
        {"SELECT * FROM pragma_table_info('t')", 208},
        {"SELECT * FROM t WHERE a = ?", tsqlerr::kSyntax},
        {"SELECT * FROM t WHERE a = :name", tsqlerr::kSyntax},
        {"SELECT * FROM t WHERE a = @Nope", tsqlerr::kUndeclared},
        {"SELECT @@VERSION", tsqlerr::kUnsupported},
        {"SET SHOWPLAN_ALL ON", tsqlerr::kUnsupported},
        {"EXEC sp_X 'positional'", tsqlerr::kUnsupported},
        {"EXEC @rc = sp_X", tsqlerr::kUnsupported},
        {"EXEC sp_X @A = @P1 OUTPUT", tsqlerr::kUnsupported},
        {"SELECT 'unclosed", 105},
        {"SELECT 1 /* unclosed", 113},
        {"DROP TABLE Subscriber", tsqlerr::kSyntax},
        {"IF 1 = 1 SELECT 1", tsqlerr::kUnsupported},
    };
    for (const auto &c : cases) {
        try {
            translate(c.tsql, {"@P1"});
            ADD_FAILURE() << "accepted: " << c.tsql;
        } catch (const TsqlError &e) {
            EXPECT_EQ(e.number(), c.number) << c.tsql << ": " << e.what();
        }
    }
}

TEST(TsqlTranslation, TheServersNameAndDatabaseAreValuesTheServerGives) {
    auto s = translate("SELECT @@SERVERNAME, DB_NAME() AS db WHERE 1 = @P1", {"@P1"});
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].sql, "SELECT ? AS \"\", ? AS \"db\" WHERE 1 = ?");
    EXPECT_EQ(s[0].parameters,
              (std::vector<int>{serverValue::kServerName, serverValue::kDatabaseName, 1}));
}

TEST(TsqlTranslation, ParameterDeclarationsGiveTheNamesInOrder) {
    EXPECT_EQ(declaredParameters("@P1 int,@P2 nvarchar(4000), @P3 decimal(10, 2)"),
              (std::vector<std::string>{"@P1", "@P2", "@P3"}));
    EXPECT_TRUE(declaredParameters("").empty());
    EXPECT_THROW(declaredParameters("P1 int"), TsqlError);
}

} // namespace
