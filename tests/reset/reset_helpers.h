#pragma once
// A reset run's test bench: a fresh stand-in host on virtual time, the modules a run reads, the
// reset page, and doubles that record what would leave the machine.

#include "app/registry/RegistryAPI.h"
#include "db/modTarvoDB.h"
#include "log/Logging.h"
#include "platform/ForwardingDatabase.h"
#include "reset/ResetPage.h"
#include "select/SubscriberGrid.h"
#include "support/TempHost.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zeph::test {

struct ProcedureCall {
    std::string name;
    std::vector<DbParam> args;
};

/// The host's database, every procedure call recorded.
class RecordingDatabase : public ForwardingDatabase {
public:
    explicit RecordingDatabase(std::unique_ptr<IDatabase> database)
        : ForwardingDatabase(std::move(database)) {}
    std::unique_ptr<IDbConnection> connect(const std::string &connectionText) override;

    std::vector<ProcedureCall> calls;
    /// Every request of the program's connections, in order, as its kind and what it names:
    /// "read SQL", "query SQL" (rows that can be saved back), "save TABLE" (one row),
    /// "change TABLE" (the rows that hold a value), "add TABLE", "call PROCEDURE".
    std::vector<std::string> requests;

    const ProcedureCall &lastCall(const std::string &name) const;
};

std::vector<std::string> readLogFile(const std::string &nativePath); // CR LF separated
/// The run's lines without the four end lines (blank, lists' synchronisation, blank, time).
std::vector<std::string> withoutEnd(const std::vector<std::string> &lines);
/// The lines of a clean reset's steps from the removal on.
std::vector<std::string> afterRemovalLines();

/// Every table's rows and the host's recordings and mailbox files (each under its path).
using Snapshot = std::map<std::string, std::multiset<std::string>>;
void expectSame(const Snapshot &before, const Snapshot &after);

struct SubscriberFacts {
    std::string objectId, alias, callHandlerId, directoryId, extension, homeServer;
    std::optional<std::string> voiceName, smtpAddress;
};

class ResetBench {
public:
    explicit ResetBench(int subscribers = 20,
                        const std::vector<std::pair<std::string, std::string>> &settings = {});

    TempHost temp;
    Host &host() { return temp.host(); }
    ScriptedUi &ui() { return temp.ui(); }
    RecordingDatabase &db() { return *m_db; }

    std::unique_ptr<RegistryAPI> registry;
    std::unique_ptr<db::modTarvoDB> tarvoDb;
    std::unique_ptr<Logging> log;
    SubscriberGrid grid;
    std::string templateAlias;
    bool preserve = false;
    std::unique_ptr<ResetPage> page;

    /// Opens the cached tables again (after a change made straight on the server) and makes a
    /// new page over them.
    void reopenTables();
    /// A grid row as the selection page makes it; with an alias, for an id the server lacks.
    void addRow(const std::string &objectId, bool checked = true, const char *alias = nullptr);
    /// Ticked rows for the first `count` ordinary subscribers, by alias. How many were found
    /// (fewer when the host has fewer).
    int addOrdinaryRows(int count);
    /// Confirms with Yes, answers the closing message with Cancel; the run's own log lines.
    std::vector<std::string> run();
    const ResetSummary &summary() const { return *page->summary(); }

    /// Straight on the stand-in database, past the call recorder.
    DbRowSet sql(const std::string &text, const std::vector<DbValue> &params = {},
                 bool readOnly = true);
    std::string sqlText(const std::string &text, const std::vector<DbValue> &params = {});
    long sqlCount(const std::string &text, const std::vector<DbValue> &params = {});
    std::vector<std::string> serverProblems(); // the stand-in's consistency check
    /// Leaves out rows and files that hold one of `exclude`.
    Snapshot snapshot(const std::vector<std::string> &exclude = {});

    SubscriberFacts facts(const std::string &objectId);
    /// The lines of a subscriber's reset (alternate extensions not kept) up to the mailbox
    /// step's last, as the server and the files are now.
    std::vector<std::string> expectedLinesBeforeRemoval(const SubscriberFacts &s);
    /// The first subscriber (by alias) that meets the condition; fails the test when none does.
    SubscriberFacts find(const std::function<bool(const SubscriberFacts &)> &is);
    bool conflicting(const SubscriberFacts &s);
    bool undeletable(const SubscriberFacts &s);
    bool ordinary(const SubscriberFacts &s); // nothing stands in the way of its reset

    std::string mailboxFolder(const SubscriberFacts &s);
    int messagesOf(const SubscriberFacts &s, const char *folder = nullptr);
    std::string recordingFile(const std::string &streamPath); // native, "" when nowhere

private:
    std::string streamRoot();

    RecordingDatabase *m_db = nullptr;
};

} // namespace zeph::test
