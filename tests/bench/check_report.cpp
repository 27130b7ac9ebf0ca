// The benchmark's output: one JSON object per figure, numbers as the table writes them, and the
// table's verdict on each target.
#include "bench/Report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

using namespace zeph::bench;

namespace {

TEST(BenchReport, EachFigureIsOneLineOfJson) {
    EXPECT_EQ(jsonLine({"open_cached_tables_ms", 350.21, "ms", Goal::Below, 500, ""}),
              R"({"name": "open_cached_tables_ms", "value": 350.2, "unit": "ms"})");
    EXPECT_EQ(jsonLine({"a\"b\\c\nd", 1, "x", Goal::Reference, 0, ""}),
              R"({"name": "a\"b\\c\u000ad", "value": 1, "unit": "x"})");
}

TEST(BenchReport, Numbers) {
    struct Case {
        double value;
        const char *text;
    };
    const double infinity = std::numeric_limits<double>::infinity();
    for (const Case &c : {Case{0, "0"}, Case{0.28881, "0.2888"}, Case{1.1, "1.1"},
                          Case{999.94, "999.9"}, Case{2043.4, "2043"}, Case{408963.2, "408963"},
                          Case{-1.5, "-1.5"}, Case{infinity, "null"}, Case{std::nan(""), "null"}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(numberText(c.value), c.text);
    }
}

TEST(BenchReport, TheTableTellsPassAndMiss) {
    std::ostringstream json;
    Report report(json);
    report.add({"fast_ms", 10, "ms", Goal::Below, 20, ""});
    report.add({"slow_ms", 30, "ms", Goal::Below, 20, ""});
    report.add({"on_the_line_ms", 20, "ms", Goal::Below, 20, ""}); // the target is "under"
    report.add({"reference_ns", 5, "ns", Goal::Reference, 0, "for comparison"});
    EXPECT_EQ(report.misses(), 2);
    EXPECT_EQ(json.str(), R"({"name": "fast_ms", "value": 10, "unit": "ms"}
{"name": "slow_ms", "value": 30, "unit": "ms"}
{"name": "on_the_line_ms", "value": 20, "unit": "ms"}
{"name": "reference_ns", "value": 5, "unit": "ns"}
)");

    std::ostringstream table;
    report.printTable(table, "Title");
    const std::string text = table.str();
    auto lineOf = [&](const std::string &name) {
        auto at = text.find("\n" + name + " ");
        EXPECT_NE(at, std::string::npos) << name;
        return text.substr(at + 1, text.find('\n', at + 1) - at - 1);
    };
    EXPECT_NE(lineOf("fast_ms").find("pass"), std::string::npos);
    EXPECT_NE(lineOf("slow_ms").find("MISS"), std::string::npos);
    EXPECT_NE(lineOf("on_the_line_ms").find("MISS"), std::string::npos);
    EXPECT_NE(lineOf("reference_ns").find("(for comparison)"), std::string::npos);
    EXPECT_NE(text.find("2 target(s) missed."), std::string::npos);
}

} // namespace
