// What a subscriber's reset asks of the server, request by request: the fix-ups move each
// table's rows with one statement, not a read of the rows and a save of each.
#include "reset_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zeph {
namespace {

// The requests of each subscriber's creation: from sp_CreateSubscriber (excluded) to the
// directory's request, sp_ModifySubscriber (excluded).
std::vector<std::vector<std::string>> creations(const std::vector<std::string> &requests) {
    std::vector<std::vector<std::string>> found;
    for (auto at = requests.begin(); at != requests.end(); ++at) {
        if (*at != "call sp_CreateSubscriber")
            continue;
        const auto end = std::find(at, requests.end(), "call sp_ModifySubscriber");
        found.emplace_back(at + 1, end);
        at = end == requests.end() ? end - 1 : end;
    }
    return found;
}

std::string joined(const std::vector<std::string> &requests) {
    std::string text;
    for (const std::string &r : requests)
        text += "\n  " + r;
    return text;
}

// After its creation, a subscriber's row is given its old ids with one save, and each of the
// ten fix-ups is one change of its table: none reads rows to save them one at a time.
TEST(Requests, EachFixUpIsOneChangeOfItsTable) {
    test::ResetBench b(12);
    int added = 0;
    for (const auto &row : b.sql("SELECT SubscriberObjectID FROM Subscriber ORDER BY Alias").rows) {
        const test::SubscriberFacts f = b.facts(std::get<std::string>(row[0]));
        if (added < 3 && b.ordinary(f)) {
            b.addRow(f.objectId);
            ++added;
        }
    }
    ASSERT_EQ(added, 3);
    b.db().requests.clear();
    b.run();
    ASSERT_EQ(b.summary().subscribersReset, 3);
    ASSERT_EQ(b.summary().errorCount, 0);

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

} // namespace
} // namespace zeph
