#pragma once
// A reset run's test bench: a fresh stand-in host on virtual time, the modules a run reads
// (registry, cached tables, run log, selection grid, the first page's choices), the reset page,
// and doubles that fail chosen calls or record what would leave the machine.

#include "app/registry/RegistryAPI.h"
#include "db/modTarvoDB.h"
#include "log/Logging.h"
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

/// Records the programs the run would start instead of starting them.
class RecordingShell : public IShell {
public:
    bool startProgram(const std::string &commandLine, WindowStyle style) override {
        started.push_back(commandLine);
        styles.push_back(style);
        return startResult;
    }
    bool openDocument(const std::string &address) override {
        opened.push_back(address);
        return true;
    }
    std::vector<std::string> started;
    std::vector<WindowStyle> styles;
    std::vector<std::string> opened;
    bool startResult = true;
};

/// A stored procedure call as the database saw it.
struct ProcedureCall {
    std::string name;
    std::vector<DbParam> args;
    /// What the procedure returned (before any fault dropped its rows).
    std::optional<DbRowSet> result;
    /// The argument by name ("@Alias"); nothing when it was not passed.
    std::optional<DbValue> arg(const std::string &argName) const;
};

/// The host's database with faults on request: a procedure that fails or returns no rows, a
/// query (found by a part of its text) that fails. Every procedure call is recorded.
class FaultyDatabase : public IDatabase {
public:
    explicit FaultyDatabase(std::unique_ptr<IDatabase> inner)
        : m_inner(std::move(inner)) {}
    std::unique_ptr<IDbConnection> connect(const std::string &connectionText) override;

    IDatabase &inner() { return *m_inner; }

    /// The procedure throws Error(number, description) before it runs.
    std::map<std::string, Error> failingProcedures;
    /// The procedure runs but its result comes back without rows.
    std::set<std::string> procedureWithoutRows;
    /// Queries whose text holds one of these parts throw Error(-2147217900, ...).
    std::vector<std::string> failingQueries;
    /// Adding a row that holds one of these text values throws Error(-2147217873, ...).
    std::set<std::string> refusedInsertValues;
    /// Every procedure call, in order.
    std::vector<ProcedureCall> calls;
    /// Every query text, in order.
    std::vector<std::string> queries;

    /// Number of calls of one procedure.
    int callCount(const std::string &name) const;
    /// Number of queries whose text holds `part`.
    int queryCount(const std::string &part) const;
    /// The last call of a procedure; fails the test when there is none.
    const ProcedureCall &lastCall(const std::string &name) const;

private:
    std::unique_ptr<IDatabase> m_inner;
};

/// The host's files, with deletion refused for paths that hold a given part.
class FailingDeletes : public IFileSystem {
public:
    explicit FailingDeletes(std::unique_ptr<IFileSystem> inner)
        : m_inner(std::move(inner)) {}
    bool fileExists(const std::string &p) override { return m_inner->fileExists(p); }
    bool folderExists(const std::string &p) override { return m_inner->folderExists(p); }
    void createFolder(const std::string &p) override { m_inner->createFolder(p); }
    std::vector<FileEntry> listFiles(const std::string &f) override {
        return m_inner->listFiles(f);
    }
    void deleteFile(const std::string &p, bool force) override;
    std::unique_ptr<ITextFileWriter> openTextFile(const std::string &p, bool append) override {
        return m_inner->openTextFile(p, append);
    }
    std::optional<std::string> readFile(const std::string &p) override {
        return m_inner->readFile(p);
    }
    std::string nativePath(const std::string &p) override { return m_inner->nativePath(p); }
    std::string userDataFolder() override { return m_inner->userDataFolder(); }

    std::vector<std::string> refuseParts;
    /// Every deletion asked for, with its force flag.
    std::vector<std::pair<std::string, bool>> deletions;

private:
    std::unique_ptr<IFileSystem> m_inner;
};

/// The lines of a run log file (CR LF separated), header included.
std::vector<std::string> readLogFile(const std::string &nativePath);
/// The run's own lines: what follows the 12 header lines.
std::vector<std::string> runLinesOf(const std::vector<std::string> &fileLines);

/// The server's state: every table's rows (as texts, in no order) and the files of the host
/// folder (recordings, mailboxes) with their contents.
struct Snapshot {
    std::map<std::string, std::multiset<std::string>> tables;
    std::map<std::string, std::string> files;
};

/// Fails the test for each table row or file that differs.
void expectSame(const Snapshot &before, const Snapshot &after);

/// What a subscriber's reset will meet, read from the server before the run.
struct SubscriberFacts {
    std::string objectId;
    std::string alias;
    std::string callHandlerId;
    std::string directoryId;
    std::string extension;
    std::optional<std::string> voiceName; // StreamPath
    std::optional<std::string> smtpAddress;
    std::string homeServer;
};

/// A fresh host on virtual time with every module a reset run reads.
class ResetBench {
public:
    explicit ResetBench(int subscribers = 12, unsigned seed = 1,
                        const std::vector<std::pair<std::string, std::string>> &settings = {});
    ~ResetBench();

    TempHost temp;
    Host &host() { return temp.host(); }
    ScriptedUi &ui() { return temp.ui(); }
    FaultyDatabase &db() { return *m_db; }
    FailingDeletes &files() { return *m_files; }
    RecordingShell &shell() { return *m_shell; }

    std::unique_ptr<RegistryAPI> registry;
    std::unique_ptr<db::modTarvoDB> tarvoDb;
    std::unique_ptr<Logging> log;
    SubscriberGrid grid;
    std::string templateAlias;
    bool preserve = false;
    std::unique_ptr<ResetPage> page;

    /// Appends a grid row for a subscriber of the cached table (as the selection page does).
    void addRow(const std::string &objectId, bool checked = true);
    /// Appends a grid row with the given cells.
    void addRawRow(const std::string &alias, const std::string &objectId, bool checked = true);

    /// Runs the reset: confirms with Yes, answers the closing message with `closing`.
    /// Returns the run's own log lines.
    std::vector<std::string> run(MsgAnswer closing = MsgAnswer::Cancel);
    /// The closing message of the last run.
    std::string closingMessage() const;

    /// A query straight on the stand-in database (no faults), read-only.
    DbRowSet sql(const std::string &text, const std::vector<DbValue> &params = {});
    /// A statement that changes the stand-in database (no faults).
    void exec(const std::string &text, const std::vector<DbValue> &params = {});
    /// One value of the first row, as text ("" for NULL or no row).
    std::string sqlText(const std::string &text, const std::vector<DbValue> &params = {});
    long sqlCount(const std::string &text, const std::vector<DbValue> &params = {});

    /// The server's state, leaving out rows that hold one of `exclude` (ids, names) and files
    /// whose path holds one of them.
    Snapshot snapshot(const std::vector<std::string> &exclude = {});

    SubscriberFacts facts(const std::string &objectId);
    /// The lines the run writes for a subscriber's recordings (voice name, then greetings),
    /// from the files and rows as they are now.
    std::vector<std::string> expectedRecordingLines(const SubscriberFacts &s);
    /// The eight lines of an emptied mailbox, with the numbers of messages it holds now.
    std::vector<std::string> expectedMailboxLines(const SubscriberFacts &s);
    /// The lines of a subscriber's reset from its first line to the mailbox step's last, as
    /// the server and the files are now: no faults but those the host itself holds.
    std::vector<std::string> expectedLinesBeforeRemoval(const SubscriberFacts &s, bool preserve);
    /// The first subscriber (by alias) that meets the condition; fails the test when none does.
    SubscriberFacts find(const std::function<bool(const SubscriberFacts &)> &is);
    /// Two or more objects of the dialing domain use its extension.
    bool conflicting(const SubscriberFacts &s);
    bool undeletable(const SubscriberFacts &s);
    /// Nothing stands in the way of its reset.
    bool ordinary(const SubscriberFacts &s);
    /// The ids sp_CreateSubscriber gave last: (subscriber, call handler); empty when none.
    std::pair<std::string, std::string> lastCreatedIds();

    /// The native path of a subscriber's mailbox folder in the stand-in mail store.
    std::string mailboxFolder(const SubscriberFacts &s);
    /// The messages in one folder of a mailbox (0 when it does not exist).
    int messagesIn(const SubscriberFacts &s, const std::string &folder);
    /// Where a StreamPath's file is now ("" when nowhere), native.
    std::string recordingFile(const std::string &streamPath);

    /// The subscribers of vw_Subscriber ordered by alias: (alias, object id).
    std::vector<std::pair<std::string, std::string>> subscribers();
    /// The folder the registry's "Root Path" names, native.
    std::string rootPath();

private:
    FaultyDatabase *m_db = nullptr;
    FailingDeletes *m_files = nullptr;
    RecordingShell *m_shell = nullptr;
};

} // namespace zeph::test
