// What a subscriber's reset asks of the server, request by request: the fix-ups move each
// table's rows with one statement, not a read of the rows and a save of each.
#include "reset_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zeph {
namespace {

// The runs of requests that follow each `from` up to the next `to` (both excluded); with
// `openEnd`, a last run that no `to` ends counts too.
std::vector<std::vector<std::string>> runsBetween(const std::vector<std::string> &requests,
                                                  const std::string &from, const std::string &to,
                                                  bool openEnd) {
    std::vector<std::vector<std::string>> found;
    for (auto at = requests.begin(); at != requests.end(); ++at) {
        if (*at != from)
            continue;
        const auto end = std::find(at, requests.end(), to);
        if (end == requests.end() && !openEnd)
            break;
        found.emplace_back(at + 1, end);
        at = end == requests.end() ? end - 1 : end;
    }
    return found;
}

// The requests of each subscriber's creation: from sp_CreateSubscriber (excluded) to the
// directory's request, sp_ModifySubscriber (excluded).
std::vector<std::vector<std::string>> creations(const std::vector<std::string> &requests) {
    return runsBetween(requests, "call sp_CreateSubscriber", "call sp_ModifySubscriber", true);
}

std::string joined(const std::vector<std::string> &requests) {
    std::string text;
    for (const std::string &r : requests)
        text += "\n  " + r;
    return text;
}

// The requests from each subscriber's directory request (excluded) to the next subscriber's
// removal (excluded): the read-back of its reset, and the next one's checks.
std::vector<std::vector<std::string>> readBacks(const std::vector<std::string> &requests) {
    return runsBetween(requests, "call sp_ModifySubscriber", "call sp_DeleteSubscriber", false);
}

// Three ordinary subscribers reset; their requests recorded.
void resetThree(test::ResetBench &b) {
    ASSERT_EQ(b.addOrdinaryRows(3), 3);
    b.db().requests.clear();
    b.run();
    ASSERT_EQ(b.summary().subscribersReset, 3);
    ASSERT_EQ(b.summary().errorCount, 0);
}

// After its creation, a subscriber's row is given its old ids with one save, and each of the
// ten fix-ups is one change of its table: none reads rows to save them one at a time.
TEST(Requests, EachFixUpIsOneChangeOfItsTable) {
    test::ResetBench b(12);
    resetThree(b);

    const std::vector<std::string> expected = {
        "save Subscriber",         "change GlobalSubscriber", "change NotificationDevice",
        "change NotificationRule", "change NotificationMWI",  "change DTMFAccessID",
        "change CallHandler",      "change CallHandler",      "change ContactRule",
        "change MessagingRule",    "change MenuEntry"};
    const auto found = creations(b.db().requests);
    ASSERT_EQ(found.size(), 3u);
    for (const auto &requests : found)
        EXPECT_EQ(requests, expected) << joined(requests);
}

// A finished subscriber is read back before its journal entry is closed: its row (ids and
// names at once), its global row, its primary call handler and extension, and every row that
// could still name a new id, counted with one read: five reads, not one a table.
TEST(Requests, AResetIsReadBackWithFiveReads) {
    test::ResetBench b(12);
    resetThree(b);
    const auto found = readBacks(b.db().requests);
    ASSERT_EQ(found.size(), 2u);
    for (const auto &requests : found) {
        // The directory's ticket and the next subscriber's extension are read through views.
        const auto readBack = std::count_if(requests.begin(), requests.end(), [](const auto &r) {
            return r.rfind("read ", 0) == 0 && r.find(" vw_") == std::string::npos;
        });
        EXPECT_EQ(readBack, 5) << joined(requests);
    }
}

// What the read-back finds when the server did not keep what the reset made: each check still
// sees its own problem, which keeps the subscriber's journal entry open. The server's triggers
// change the rows once the last fix-up (the menu entries') has moved them.
struct Unkept {
    const char *name;
    const char *trigger; // the body of a trigger AFTER UPDATE ON MenuEntry
    const char *problem; // the start of what the read-back reports
};

class ReadBack : public testing::TestWithParam<Unkept> {};

TEST_P(ReadBack, FindsWhatTheServerDidNotKeep) {
    test::ResetBench b;
    const test::SubscriberFacts s = b.find([&](const auto &f) { return b.ordinary(f); });
    b.addRow(s.objectId);
    b.sql(std::string("CREATE TRIGGER unkept AFTER UPDATE ON MenuEntry BEGIN ") +
              GetParam().trigger + " END",
          {}, false);
    const std::vector<std::string> lines = b.run();
    const std::string start = "(error) the reset of this subscriber could not be verified (" +
                              std::string(GetParam().problem);
    const auto found = std::find_if(lines.begin(), lines.end(), [&](const std::string &line) {
        return line.rfind(start, 0) == 0;
    });
    EXPECT_NE(found, lines.end()) << start << "\n" << joined(lines);
    EXPECT_EQ(b.summary().stopReason.rfind("the reset of " + s.alias + " could not be verified", 0),
              0u)
        << b.summary().stopReason;
}

INSTANTIATE_TEST_SUITE_P(
    Checks, ReadBack,
    testing::Values(
        Unkept{"Names",
               "UPDATE Subscriber SET FirstName = 'Renamed' WHERE CallHandlerObjectID = "
               "NEW.ParentObjectID;",
               "the subscriber has FirstName='Renamed' instead of '"},
        Unkept{"SubscriberIds",
               "UPDATE Subscriber SET CallHandlerObjectID = 'elsewhere' WHERE "
               "CallHandlerObjectID = NEW.ParentObjectID;",
               "the subscriber has CallHandlerObjectID=elsewhere"},
        Unkept{"GlobalRow",
               "UPDATE GlobalSubscriber SET CallHandlerObjectID = 'elsewhere' WHERE "
               "CallHandlerObjectID = NEW.ParentObjectID;",
               "its global subscriber row has CallHandlerObjectID=elsewhere"},
        Unkept{"CallHandler",
               "UPDATE CallHandler SET IsPrimary = 0 WHERE CallHandlerObjectID = "
               "NEW.ParentObjectID;",
               "its primary call handler has IsPrimary=0"},
        Unkept{"Extension",
               "UPDATE DTMFAccessID SET DTMFAccessID = '99999' WHERE IsPrimaryID = 1 AND "
               "ParentObjectID = (SELECT SubscriberObjectID FROM Subscriber WHERE "
               "CallHandlerObjectID = NEW.ParentObjectID);",
               "its primary extension has DTMFAccessID=99999"},
        Unkept{"References",
               "UPDATE MessagingRule SET ParentObjectID = OLD.ParentObjectID WHERE "
               "ParentObjectID = NEW.ParentObjectID;",
               "6 row(s) of MessagingRule still name the new id "}),
    [](const testing::TestParamInfo<Unkept> &point) { return std::string(point.param.name); });

} // namespace
} // namespace zeph
