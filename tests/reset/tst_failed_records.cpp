// The failed-records file beside the run log: its fields, which subscribers it lists and with
// which reason.
#include "platform/Error.h"
#include "reset/FailedRecords.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

using namespace zeph;

TEST(FailedRecordsFile, FieldsStayImportable) {
    const std::pair<const char *, const char *> cases[] = {
        {"(error):5 (a, b, c) in procedure P", "(error):5 (a; b; c) in procedure P"},
        {"  two\r\nlines\tand tab  ", "two  lines and tab"},
        {"   ", ""},
    };
    for (const auto &[text, field] : cases)
        EXPECT_EQ(failedRecordsField(text), field) << text;
}

TEST(FailedRecordsFile, TheFirstErrorLineOfEachSubscriberIsItsReason) {
    FailedRecords records;
    records.observe("(error) before any subscriber");
    records.beginSubscriber("a", "4001");
    records.observe("(warning) not an error");
    records.observe("Something (ERROR) in capitals");
    records.observe("(error) a second one");
    records.endSubscriber();
    records.beginSubscriber("b", "4002");
    records.observe("    fine");
    records.endSubscriber();
    records.beginSubscriber("c,d", "");
    records.observe("(error):5 (x, y) in procedure P of Form F");
    records.endSubscriber();
    records.observe("(error) after the subscribers");
    EXPECT_EQ(records.lines(), (std::vector<std::string>{
                                   "alias,extension,reason",
                                   "a,4001,Something (ERROR) in capitals",
                                   "c;d,,(error):5 (x; y) in procedure P of Form F",
                               }));

    test::TempHost host(2, 1);
    EXPECT_THROW(records.write(*host.host().files, host.folder() + "/no/such/folder/x.csv"),
                 zeph::Error);
}
