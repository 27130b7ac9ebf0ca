#include "DirectorySyncWait.h"

#include "ResetRun.h"
#include "db/Command.h"
#include "db/Recordset.h"

namespace zeph {

const char *const kSyncTimeoutLine =
    "Syncronization process failed to complete in a timely fashion.  Check the Lorrasvc logs in "
    "the \\Pradix\\Logs directory";

namespace {

// The pause before each look at the ticket. The window may repaint between the slices; the
// run's buttons stay disabled, so nothing else can happen meanwhile.
void pauseBeforePoll(Host &host) {
    for (int slept = 0; slept < kSyncPauseMs; slept += kSyncPauseSliceMs) {
        host.clock->sleepMs(kSyncPauseSliceMs);
        if (host.ui)
            host.ui->doEvents();
    }
}

} // namespace

namespace {

std::function<void(const std::string &)> shownIn(Host &host) {
    return [&host](const std::string &text) {
        if (host.ui)
            host.ui->messageBox(text, MsgButtons::OK);
    };
}

void deleteTicket(Host &host, const std::string &connectionText, const DbValue &ticket,
                  const db::Connection *connection) {
    db::Command command(*host.database);
    if (connection && connection->IsOpen())
        command.ActiveConnection(*connection);
    else
        command.ActiveConnection(connectionText);
    command.CommandType(db::adCmdStoredProc);
    command.CommandText("sp_DeleteDirectorySyncTicket");
    command.AppendParameter("@Ticket", db::adGUID, ticket);
    command.Execute();
}

} // namespace

void DeleteDirectorySyncTicket(Host &host, const std::string &connectionText,
                               const std::string &ticket, const db::Connection *connection) {
    trap(kSyncWaitWhere, shownIn(host),
         [&] { deleteTicket(host, connectionText, DbValue(ticket), connection); });
}

bool WaitForSyncToFinished(Host &host, const std::string &connectionText, Logging &log,
                           const std::string &ticket, const db::Connection *connection,
                           std::vector<std::string> *answered) {
    const bool shared = connection && connection->IsOpen();
    std::function<void(const std::string &)> show = shownIn(host);
    auto attempt = [&](auto &&step) { return trap(kSyncWaitWhere, show, step); };

    db::Recordset rs(*host.database);
    bool haveResult = false;
    for (int poll = 1; poll <= kSyncPolls && !haveResult; ++poll) {
        pauseBeforePoll(host);
        attempt([&] {
            rs.CursorLocation(db::adUseClient);
            const char *sql = "SELECT * FROM vw_DirectorySyncTicket WHERE Ticket=?";
            if (shared)
                rs.Open(sql, *connection, db::adOpenForwardOnly, db::adLockReadOnly,
                        {DbValue(ticket)});
            else
                rs.Open(sql, connectionText, db::adOpenForwardOnly, db::adLockReadOnly,
                        {DbValue(ticket)});
        });
        attempt([&] { haveResult = rs.IsOpen() && !rs.Eof() && !rs["result"].IsNull(); });
        if (!haveResult)
            attempt([&] { rs.Close(); });
    }
    if (!haveResult) {
        log.WriteLogLine(kSyncTimeoutLine);
        return false;
    }

    // Only a result read as 0 is a success; a result that cannot be read is none.
    bool succeeded = false;
    attempt([&] { succeeded = rs["result"].Long() == 0; });
    attempt([&] {
        if (answered)
            answered->push_back(rs["Ticket"].Text());
        else
            deleteTicket(host, connectionText, rs["Ticket"].Value(), connection);
    });
    try {
        rs.Close();
    } catch (const std::exception &) {
        // The clean-up's failures do not matter to the caller.
    }
    return succeeded;
}

} // namespace zeph
