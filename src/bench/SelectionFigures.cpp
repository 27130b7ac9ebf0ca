// The selection page on a large host: "All subscribers" into the grid, and a CSV file of every
// subscriber through the import, each timed from the press of "Add Subscribers To Grid" to the
// filled grid.
#include "BenchHost.h"
#include "Figures.h"
#include "Measure.h"
#include "SpreadSelection.h"
#include "app/registry/RegistryAPI.h"
#include "db/modTarvoDB.h"
#include "select/ChooseSubscribersPage.h"

#include <fstream>
#include <iostream>
#include <stdexcept>

namespace zeph::bench {
namespace {

// "alias,extension" and one line per subscriber, as an administrator exports the server's list.
std::string writeSubscriberList(IDatabase &database, const std::string &path, int &lines) {
    auto connection = database.connect(db::kTarvoConnectionText);
    DbRowSet rows = connection->query(
        "SELECT Alias, DTMFAccessID FROM vw_Subscriber WHERE SubscriberType IN (1,3) "
        "ORDER BY SubscriberObjectID",
        {}, true);
    std::string text = "alias,extension\r\n";
    for (const auto &row : rows.rows) {
        const auto *alias = std::get_if<std::string>(&row.at(0));
        const auto *extension = std::get_if<std::string>(&row.at(1));
        text += (alias ? *alias : "") + "," + (extension ? *extension : "") + "\r\n";
    }
    std::ofstream(path, std::ios::binary) << text;
    lines = static_cast<int>(rows.rows.size());
    return path;
}

// One press of "Add Subscribers To Grid": its processor time, the best of the runs, and the
// grid it left.
double pressView(const BenchOptions &options, ChooseSubscribersPage &page, int &gridRows) {
    const Timing best = bestOf(options.runs(), [&] { page.cmdView_Click(); });
    gridRows = page.gridDataRows();
    std::cerr << "zephrane-bench: " << gridRows << " rows in the grid after "
              << numberText(best.wallMs) << " ms wall time at best\n";
    return best.cpuMs;
}

} // namespace

void measureSelection(const BenchOptions &options, const std::string &hostFolder, Report &report) {
    BenchHost bench(hostFolder);
    Host &host = bench.host();
    RegistryAPI registry(*host.registry);
    db::modTarvoDB tarvo(*host.database);
    if (!tarvo.bOpenDatabase(tarvo.DbConnectionString()))
        throw std::runtime_error("the cached tables do not open on " + hostFolder);
    ChooseSubscribersPage page(host, registry, tarvo, nullptr, "");
    page.Form_Load();

    int rows = 0;
    chooseCode(page, kCriterionAllSubscribers);
    const double allMs = pressView(options, page, rows);
    if (rows == 0)
        throw std::runtime_error("\"All subscribers\" found nobody");
    report.add({"select_all_to_grid_ms", allMs, "ms", Goal::Below, 1000, ""});

    int lines = 0;
    const std::string csv =
        writeSubscriberList(*host.database, bench.folder() + "/subscribers.csv", lines);
    chooseCode(page, kCriterionCsvFile);
    page.txtCSVPath.Text = csv;
    const double csvMs = pressView(options, page, rows);
    if (rows != lines)
        std::cerr << "zephrane-bench: warning: the import did not add every subscriber of its "
                     "file; its last message: "
                  << bench.ui().lastText() << "\n";
    report.add({"csv_import_30k_ms", csvMs, "ms", Goal::Below, 5000, ""});
}

} // namespace zeph::bench
