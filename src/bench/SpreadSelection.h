#pragma once
// A sample of a host's subscribers chosen on the selection page as an administrator would: every
// k-th row of "All subscribers", handed back to the page as a subscriber list file, so that the
// sample is spread over the whole host and holds its kinds of subscribers in their proportions.

#include <string>
#include <vector>

namespace zeph {
class ChooseSubscribersPage;
}

namespace zeph::bench {

/// Picks criterion `code` (kCriterionAllSubscribers, ...) on the page; throws when the page
/// does not offer it.
void chooseCode(ChooseSubscribersPage &page, int code);

/// `count` grid rows (1 to `rows`) spread evenly over a grid of `rows` subscriber rows, in
/// ascending order, each once; every row when `count` is not below `rows`.
std::vector<int> spreadRows(int rows, int count);

/// Fills the page's grid with `count` subscribers spread evenly over "All subscribers", through
/// a subscriber list file written to `csvPath` and imported as the page imports one. With
/// `count` 0, or not below the number of subscribers, the grid keeps them all. Returns the
/// grid's rows; throws when the import did not take every subscriber of the file.
int selectSpread(ChooseSubscribersPage &page, const std::string &csvPath, int count);

} // namespace zeph::bench
