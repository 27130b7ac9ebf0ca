// A subscriber's two sync tickets: the journal records them ahead of the steps that send them
// and hands each out once; a step that finds none announced makes its own and records it
// before it is sent; nothing of one entry is handed to the next.
#include "reset/RecoveryJournal.h"
#include "reset/ResetRun.h"
#include "reset_helpers.h"
#include "support/Succeeded.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace zeph;

namespace {

class Tickets : public testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(m_bench.temp.programFolder()); }
    IFileSystem &files() { return *m_bench.host().files; }
    JournalEntry lastEntry() {
        const Result<JournalFile> file = readJournal(files(), journalPath(m_log));
        if (!file || file->entries.empty()) {
            ADD_FAILURE() << "no entry read back: " << (file ? "no entries" : file.error());
            return {};
        }
        return file->entries.back();
    }

    test::ResetBench m_bench{2};
    const std::string m_log = m_bench.temp.programFolder() + "/Zephrane_Log_20261207_10_00_00.TXT";
    RecoveryJournal m_journal{files(), m_log, "stand-in server {S1}"};
};

// Each row: the tickets the entry's beginning announces, the one the creation's record
// announces, and what the removal and the re-synchronisation are handed.
struct Handing {
    const char *what;
    const char *atBegin[2];
    const char *atCreation;
    const char *removalGets;
    const char *resyncGets;
};

const Handing kHandings[] = {
    {"both announced with the beginning", {"{R1}", "{C1}"}, nullptr, "{R1}", "{C1}"},
    {"none announced", {"", ""}, nullptr, "", ""},
    {"the creation's ticket announced with its record", {"{R1}", ""}, "{C2}", "{R1}", "{C2}"},
    {"the beginning's creation ticket recorded again with the creation",
     {"", "{C1}"},
     "{C1}",
     "",
     "{C1}"},
};

TEST_F(Tickets, EachAnnouncedTicketIsHandedOutOnceAndIsInTheJournal) {
    for (const Handing &h : kHandings) {
        SCOPED_TRACE(h.what);
        ASSERT_TRUE(test::succeeded(
            m_journal.begin(SubscriberSnapshot{}, "defaultTemplate", h.atBegin[0], h.atBegin[1])));
        EXPECT_EQ(m_journal.takeRemovalTicket(), h.removalGets);
        if (h.atCreation) {
            ASSERT_TRUE(test::succeeded(m_journal.created({"{NEW}", "{NEW-CH}"}, h.atCreation)));
        }
        EXPECT_EQ(m_journal.announcedCreationTicket(), h.resyncGets);
        EXPECT_EQ(m_journal.takeCreationTicket(), h.resyncGets);
        EXPECT_EQ(m_journal.announcedCreationTicket(), "");
        const JournalEntry entry = lastEntry();
        EXPECT_EQ(entry.removalTicket, h.removalGets);
        EXPECT_EQ(entry.creationTicket, h.resyncGets);
        ASSERT_TRUE(test::succeeded(m_journal.finished()));
    }
}

TEST_F(Tickets, NothingOfOneEntryIsHandedToTheNextOrToAResumedOne) {
    ASSERT_TRUE(
        test::succeeded(m_journal.begin(SubscriberSnapshot{}, "defaultTemplate", "{R1}", "{C1}")));
    ASSERT_TRUE(test::succeeded(m_journal.begin(SubscriberSnapshot{}, "defaultTemplate", "", "")));
    EXPECT_EQ(m_journal.takeRemovalTicket(), "");
    EXPECT_EQ(m_journal.takeCreationTicket(), "");

    ASSERT_TRUE(
        test::succeeded(m_journal.begin(SubscriberSnapshot{}, "defaultTemplate", "{R3}", "{C3}")));
    m_journal.resume(1);
    EXPECT_EQ(m_journal.takeRemovalTicket(), "");
    EXPECT_EQ(m_journal.announcedCreationTicket(), "");
    EXPECT_EQ(m_journal.takeCreationTicket(), "");
}

// A step that finds no ticket announced makes one and records it in the subscriber's entry
// before sending it; one announced is sent as it is, without a record of its own.
TEST_F(Tickets, TheRunMakesAndRecordsATicketNoneAnnounced) {
    RunSettings settings;
    settings.journal = &m_journal;
    ResetRun run(m_bench.host(), *m_bench.tarvoDb, *m_bench.log, settings);
    ASSERT_TRUE(
        test::succeeded(m_journal.begin(SubscriberSnapshot{}, "defaultTemplate", "", "{C1}")));
    const std::string removal = run.takeRemovalTicket();
    EXPECT_FALSE(removal.empty());
    EXPECT_EQ(lastEntry().removalTicket, removal) << "recorded before it is sent";
    EXPECT_EQ(run.takeCreationTicket(), "{C1}");
    EXPECT_EQ(lastEntry().creationTicket, "{C1}");

    ASSERT_TRUE(
        test::succeeded(m_journal.begin(SubscriberSnapshot{}, "defaultTemplate", "{R2}", "")));
    EXPECT_EQ(run.takeRemovalTicket(), "{R2}");
    const std::string creation = run.takeCreationTicket();
    EXPECT_FALSE(creation.empty());
    EXPECT_NE(creation, removal);
    EXPECT_EQ(lastEntry().creationTicket, creation);
    EXPECT_EQ(run.failureCount(), 0);
    EXPECT_FALSE(run.stopped());
}

#ifndef NDEBUG
// A ticket sent twice would ask the directory again under an answered ticket: a fault of the
// code, stopped in the test build.
TEST_F(Tickets, ATicketTakenTwiceStopsTheTestBuild) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_TRUE(
        test::succeeded(m_journal.begin(SubscriberSnapshot{}, "defaultTemplate", "{R1}", "{C1}")));
    m_journal.takeRemovalTicket();
    EXPECT_DEATH(m_journal.takeRemovalTicket(), "taken twice");
    m_journal.takeCreationTicket();
    EXPECT_DEATH(m_journal.takeCreationTicket(), "taken twice");
}
#endif

} // namespace
