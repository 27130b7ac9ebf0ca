// Waiting for the directory's answer to a sync ticket: a result ends the wait (only 0 is a
// success) and the ticket is removed; no result in twenty looks writes the time-out line and
// leaves the ticket for the server's own clean-up.
#include "db/Command.h"
#include "db/Recordset.h"
#include "log/Logging.h"
#include "reset/DirectorySyncWait.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

using namespace zeph;

namespace {

constexpr const char *kConnection = "Driver={SQL Server};server=;database=TarvoDb";
constexpr const char *kTicket = "{0000AAAA-1111-2222-3333-444455556666}";

long rowsOf(Host &host, const std::string &sql) {
    db::Recordset rs(*host.database);
    rs.CursorLocation(db::adUseClient);
    rs.Open(sql, kConnection, db::adOpenKeyset, db::adLockReadOnly, {DbValue(kTicket)});
    return rs.RecordCount();
}

struct WaitCase {
    const char *setting;
    bool success;
    int polls;
    long ticketsLeft;
};

class SyncWait : public testing::TestWithParam<WaitCase> {};

TEST_P(SyncWait, EndsOnAResultOrAfterTwentyLooks) {
    const WaitCase c = GetParam();
    test::TempHost temp(5, 1);
    temp.set("directory-sync", c.setting);
    temp.set("virtual-time", "on"); // each pause moves the host's clock on
    Host &host = temp.host();
    IClock &time = *host.clock;

    // A re-synchronisation asked for under the ticket, as the reset does.
    db::Recordset first(*host.database);
    first.Open("SELECT SubscriberObjectID FROM Subscriber", kConnection, db::adOpenKeyset,
               db::adLockReadOnly);
    db::Command command(*host.database);
    command.ActiveConnection(kConnection);
    command.CommandType(db::adCmdStoredProc);
    command.CommandText("sp_ModifySubscriber");
    command.AppendParameter("@SubscriberObjectID", db::adGUID, first["SubscriberObjectID"].Value());
    command.AppendParameter("@DirectorySyncTicket", db::adGUID, kTicket);
    command.AppendParameter("@DirectorySync", db::adInteger, 1);
    command.Execute();

    Logging log(host);
    std::vector<std::string> lines;
    log.setLineObserver([&](const std::string &line) { lines.push_back(line); });
    const TimePoint start = time.now();
    EXPECT_EQ(WaitForSyncToFinished(host, kConnection, log, kTicket), c.success);
    // The virtual clock also runs on with the machine's: the pauses are the whole seconds.
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(time.now() - start);
    EXPECT_EQ(waited.count(), kSyncPauseMs / 1000 * c.polls);
    EXPECT_EQ(rowsOf(host, "SELECT Ticket FROM vw_DirectorySyncTicket WHERE Ticket=?"),
              c.ticketsLeft);
    const std::vector<std::string> timeOut = {kSyncTimeoutLine};
    EXPECT_EQ(lines, c.ticketsLeft ? timeOut : std::vector<std::string>{});
    EXPECT_EQ(log.LogErrorCount(), 0) << "the time-out line is not an error line";
}

INSTANTIATE_TEST_SUITE_P(Answers, SyncWait,
                         testing::Values(WaitCase{"ok", true, 1, 0}, WaitCase{"fail", false, 1, 0},
                                         WaitCase{"never", false, kSyncPolls, 1}),
                         [](const auto &answer) { return std::string(answer.param.setting); });

} // namespace
