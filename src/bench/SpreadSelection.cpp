#include "SpreadSelection.h"

#include "select/ChooseSubscribersPage.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace zeph::bench {

void chooseCode(ChooseSubscribersPage &page, int code) {
    const ListControl &list = page.cmbSubscriberSelectType;
    for (int i = 0; i < list.ListCount(); ++i) {
        if (list.itemDataAt(i) == code) {
            page.chooseCriterion(i);
            return;
        }
    }
    throw std::runtime_error("the selection page offers no criterion " + std::to_string(code));
}

std::vector<int> spreadRows(int rows, int count) {
    std::vector<int> picked;
    if (rows <= 0 || count <= 0)
        return picked;
    const int taken = std::min(rows, count);
    picked.reserve(static_cast<std::size_t>(taken));
    // Row j * rows / taken for the j-th pick: the steps differ by at most one row, so the picks
    // are distinct and the first and the last stretch of the grid are both sampled.
    for (int j = 0; j < taken; ++j)
        picked.push_back(static_cast<int>(static_cast<long long>(j) * rows / taken) + 1);
    return picked;
}

int selectSpread(ChooseSubscribersPage &page, const std::string &csvPath, int count) {
    chooseCode(page, kCriterionAllSubscribers);
    page.cmdView_Click();
    const int all = page.gridDataRows();
    if (count <= 0 || count >= all)
        return all;

    // "alias,extension" and one line per subscriber, as an administrator exports a list.
    const SubscriberGrid &grid = page.myGrid;
    const int aliasCol = grid.ColIndex("Alias");
    const int extensionCol = grid.ColIndex("Extension");
    std::string text = "alias,extension\r\n";
    for (int row : spreadRows(all, count))
        text += grid.TextMatrix(row, aliasCol) + "," + grid.TextMatrix(row, extensionCol) + "\r\n";
    std::ofstream file(csvPath, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file)
        throw std::runtime_error("cannot write the subscriber list " + csvPath);

    chooseCode(page, kCriterionCsvFile);
    page.txtCSVPath.Text = csvPath;
    page.cmdView_Click();
    if (page.gridDataRows() != count || page.myGrid.checkedCount() != count)
        throw std::runtime_error("the subscriber list " + csvPath + " of " + std::to_string(count) +
                                 " subscribers gave " + std::to_string(page.gridDataRows()) +
                                 " grid rows");
    return count;
}

} // namespace zeph::bench
