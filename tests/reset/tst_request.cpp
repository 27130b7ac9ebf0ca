// A reset request alone drives a whole run, without a page or a grid: on twin hosts, the run of
// a request written by hand and the reset page's run of the same choices in its grid write the
// same log, count the same outcome and leave the request's subscribers created again.
#include "reset_helpers.h"

#include "reset/ResetJob.h"

#include <gtest/gtest.h>

using namespace zeph;

namespace {

const char *const kGhost = "{00000000-0000-0000-0000-000000000001}";

struct Options {
    const char *what;
    bool preserve = false;
    bool skipListSync = false;
};

} // namespace

TEST(ResetRequest, ARequestAloneResetsAsThePageDoesWithTheSameChoices) {
    for (const Options &o : {Options{"plain"}, Options{"alternate extensions kept", true},
                             Options{"no lists' synchronisation", false, true}}) {
        SCOPED_TRACE(o.what);
        test::ResetBench byPage;
        test::ResetBench byRequest;
        const test::SubscriberFacts s =
            byPage.find([&](const auto &f) { return byPage.ordinary(f); });
        const test::SubscriberFacts t = byPage.find(
            [&](const auto &f) { return byPage.ordinary(f) && f.objectId != s.objectId; });

        // The page: rows in its grid, one of them not ticked, and its own check box.
        byPage.preserve = o.preserve;
        byPage.addRow(s.objectId);
        byPage.addRow(t.objectId, false);
        byPage.addRow(kGhost, true, "ghost");
        byPage.page->chkSkipDLResynch.Value = o.skipListSync;
        const std::vector<std::string> pageLines = byPage.run();

        // The request: the ticked subscribers and the options, nothing else.
        ResetRequest request;
        request.templateAlias = byRequest.templateAlias;
        request.subscribers = {{s.alias, "", s.extension, s.objectId}, {"ghost", "", "", kGhost}};
        request.preserveAlternateExtensions = o.preserve;
        request.skipListSync = o.skipListSync;
        ResetJob job(byRequest.host(), *byRequest.registry, *byRequest.tarvoDb, *byRequest.log);
        byRequest.ui().expectBox("2 subscribers will be reset", MsgAnswer::Yes);
        byRequest.ui().expectBox(" error(s) encountered.", MsgAnswer::Cancel);
        job.run(request);
        byRequest.ui().verifyAllShown();
        ASSERT_TRUE(job.summary());
        std::vector<std::string> jobLines =
            test::readLogFile(byRequest.host().files->nativePath(byRequest.log->LogFilePath()));
        jobLines.erase(jobLines.begin(),
                       jobLines.begin() + std::min<std::size_t>(12, jobLines.size()));

        EXPECT_EQ(test::withoutEnd(jobLines), test::withoutEnd(pageLines));
        const bool synchronised =
            std::find_if(jobLines.begin(), jobLines.end(), [](const std::string &line) {
                return line.find("Starting synchronization of all distribution lists") !=
                       std::string::npos;
            }) != jobLines.end();
        EXPECT_EQ(synchronised, !o.skipListSync);
        EXPECT_EQ(job.summary()->outcome.text(), byPage.summary().outcome.text());
        EXPECT_EQ(job.summary()->outcome.text(),
                  "1 reset, 0 reset with errors, 1 skipped, 0 not attempted");
        // The subscriber is back (with its old ids written back); the one left out was never
        // looked at.
        EXPECT_EQ(byRequest.sqlCount("SELECT COUNT(*) FROM Subscriber WHERE Alias=?", {s.alias}),
                  1);
        EXPECT_EQ(std::count(jobLines.begin(), jobLines.end(), "    Alias=" + s.alias), 1);
        EXPECT_EQ(std::count(jobLines.begin(), jobLines.end(), "    Alias=" + t.alias), 0);
    }
}

// A dry run is asked for in the request: no question, nothing changed, every change logged as
// what the run would do.
TEST(ResetRequest, ADryRunRequestAsksNothingAndChangesNothing) {
    test::ResetBench b;
    const test::SubscriberFacts s = b.find([&](const auto &f) { return b.ordinary(f); });
    ResetRequest request;
    request.templateAlias = b.templateAlias;
    request.subscribers = {{s.alias, "", s.extension, s.objectId}};
    request.dryRun = true;
    const test::Snapshot before = b.snapshot();
    ResetJob job(b.host(), *b.registry, *b.tarvoDb, *b.log);
    b.ui().expectBox("Dry run complete, nothing was changed: 1 subscribers would be reset",
                     MsgAnswer::Cancel);
    job.run(request);
    b.ui().verifyAllShown();
    test::expectSame(before, b.snapshot());
    ASSERT_TRUE(job.summary());
    EXPECT_TRUE(job.summary()->dryRun);
    const std::vector<std::string> lines =
        test::readLogFile(b.host().files->nativePath(b.log->LogFilePath()));
    EXPECT_NE(std::find(lines.begin(), lines.end(), ResetJob::kDryRunLine), lines.end());
}
