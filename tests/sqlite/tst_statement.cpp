// The statement wrapper the backend and the server share: kept statements, nested uses of one
// text, and the error numbering each side reports.
#include "server_helpers.h"

#include <gtest/gtest.h>

namespace {

using namespace zeph::sqlite;

TEST(StatementCache, ANestedUseOfOneTextGetsAStatementOfItsOwn) {
    zeph::test::SeededServer s(3);
    StatementCache *cache = StatementCache::forHandle(s.db());
    ASSERT_NE(cache, nullptr);
    const char *sql = "SELECT Alias FROM Subscriber ORDER BY rowid";
    for (int round = 0; round < 2; ++round) { // the second round meets the kept statement again
        std::vector<std::string> outer, inner;
        StatementUse a = cache->use(sql, server::errorNumber);
        while (a->step() && outer.size() < 100) {
            StatementUse b = cache->use(sql, server::errorNumber);
            ASSERT_TRUE(b->step());
            outer.push_back(a->text(0));
            inner.push_back(b->text(0));
        }
        EXPECT_EQ(static_cast<std::int64_t>(outer.size()),
                  s.count("SELECT COUNT(*) FROM Subscriber"));
        EXPECT_EQ(inner, std::vector<std::string>(outer.size(), s.text(sql)));
    }
}

TEST(StatementCache, EachSideNumbersFailuresItsOwnWay) {
    zeph::test::SeededServer s(1);
    for (const auto &[sql, serverNumber, driverNumber] :
         {std::tuple{"INSERT INTO Subscriber SELECT * FROM Subscriber", -2147217873L, -2147217873L},
          {"SELECT * FROM NoSuchTable", -2147467259L, -2147217900L}}) {
        long numbers[2] = {0, 0};
        for (int side = 0; side < 2; ++side) {
            try {
                StatementCache::useOn(s.db(), sql, side ? errorNumber : server::errorNumber)->run();
            } catch (const zeph::Error &e) {
                numbers[side] = e.number();
            }
        }
        EXPECT_EQ(numbers[0], serverNumber) << sql;
        EXPECT_EQ(numbers[1], driverNumber) << sql;
    }
}

} // namespace
