// Timings of the selection page on a large stand-in host, printed, never asserted. Run with
//   test_select --gtest_also_run_disabled_tests --gtest_filter='*Measure*'
#include "select_helpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

using namespace zeph;
using namespace zeph::test;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

TEST(SelectionMeasure, DISABLED_ThirtyThousandSubscribers) {
    auto start = std::chrono::steady_clock::now();
    SelectionHost h(30000, 11);
    std::printf("host with 30000 subscribers built: %.2f s\n", secondsSince(start));

    start = std::chrono::steady_clock::now();
    ChooseSubscribersPage &p = h.open();
    std::printf("cached tables opened and page loaded: %.2f s\n", secondsSince(start));

    h.ui().setStrict(false);
    start = std::chrono::steady_clock::now();
    p.cmdView_Click();
    std::printf("\"All subscribers\": %d rows in %.3f s\n", p.myGrid.Rows() - 1,
                secondsSince(start));

    std::string csv = "alias,extension\r\n";
    const auto aliases = h.column("SELECT Alias FROM Subscriber ORDER BY rowid");
    const auto extensions = h.column(
        "SELECT COALESCE((SELECT DTMFAccessID FROM DTMFAccessID d WHERE d.ParentObjectID = "
        "s.SubscriberObjectID AND d.IsPrimaryID = 1), '') FROM Subscriber s ORDER BY s.rowid");
    for (std::size_t i = 0; i < aliases.size() && i < 30000; ++i)
        csv += aliases[i] + "," + extensions[i] + "\r\n";
    h.chooseCode(kCriterionCsvFile);
    p.txtCSVPath.Text = h.writeFile("all.csv", csv);
    start = std::chrono::steady_clock::now();
    p.cmdView_Click();
    std::printf("CSV import of %zu lines: %d rows in %.3f s\n", aliases.size(), p.myGrid.Rows() - 1,
                secondsSince(start));
    if (!h.ui().boxes().empty())
        std::printf("last message: %s\n", h.ui().boxes().back().text.c_str());
}
