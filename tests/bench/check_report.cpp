// The benchmark's output: one JSON object per figure, and the table's verdict on each target.
#include "bench/Report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace zeph::bench;

TEST(BenchReport, EachFigureIsOneLineOfJsonAndTheTableTellsPassAndMiss) {
    for (const auto &[value, text] : {std::pair(0.0, "0"),
                                      {0.28881, "0.2888"},
                                      {999.94, "999.9"},
                                      {2043.4, "2043"},
                                      {-1.5, "-1.5"},
                                      {std::nan(""), "null"}})
        EXPECT_EQ(numberText(value), text) << value;
    EXPECT_EQ(jsonLine({"a\"b\\c\nd", 350.21, "ms", Goal::Reference, 0, ""}),
              R"({"name": "a\"b\\c\u000ad", "value": 350.2, "unit": "ms"})");
    std::ostringstream json, table;
    Report report(json);
    report.add({"fast_ms", 10, "ms", Goal::Below, 20, ""});
    report.add({"on_the_line_ms", 20, "ms", Goal::Below, 20, ""});      // the target is "under"
    report.add({"on_the_line_count", 8, "count", Goal::AtMost, 8, ""}); // "at most" holds it
    report.add({"reference_ns", 5, "ns", Goal::Reference, 0, "for comparison"});
    EXPECT_EQ(report.misses(), 1);
    EXPECT_EQ(json.str(), R"({"name": "fast_ms", "value": 10, "unit": "ms"}
{"name": "on_the_line_ms", "value": 20, "unit": "ms"}
{"name": "on_the_line_count", "value": 8, "unit": "count"}
{"name": "reference_ns", "value": 5, "unit": "ns"}
)");
    report.printTable(table, "Title");
    const std::string text = table.str();
    for (const auto &[name, verdict] : {std::pair("fast_ms", "pass"),
                                        {"on_the_line_ms", "MISS"},
                                        {"on_the_line_count", "pass"},
                                        {"reference_ns", "(for comparison)"}}) {
        const auto at = text.find("\n" + std::string(name) + " ");
        ASSERT_NE(at, std::string::npos) << name;
        EXPECT_NE(text.substr(at, text.find('\n', at + 1) - at).find(verdict), std::string::npos);
    }
    EXPECT_NE(text.find("1 target(s) missed."), std::string::npos);
}
