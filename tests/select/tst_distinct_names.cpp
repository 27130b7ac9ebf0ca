// Names that repeat in a list are told apart by their aliases.
#include "select/DistinctNames.h"

#include <gtest/gtest.h>

using zeph::namesToldApart;
using List = std::vector<std::string>;

TEST(DistinctNames, OnlyRepeatedNamesTakeTheirAlias) {
    const struct {
        List names, aliases, shown;
    } cases[] = {
        {{}, {}, {}},
        {{"Sales Staff", "Kiosk"}, {"salesA", "kiosk"}, {"Sales Staff", "Kiosk"}},
        {{"Sales Staff", "Kiosk", "Sales Staff"},
         {"salesEast", "kiosk", "salesWest"},
         {"Sales Staff (salesEast)", "Kiosk", "Sales Staff (salesWest)"}},
        // Letter case makes a different name; a missing alias leaves the name alone.
        {{"Restricted", "restricted", "Restricted"},
         {"r1", "r2"},
         {"Restricted (r1)", "restricted", "Restricted"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(namesToldApart(c.names, c.aliases), c.shown);
}
