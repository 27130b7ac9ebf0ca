#include "Floor.h"

#include "BenchHost.h"
#include "app/registry/RegistryAPI.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/MailStore.h"
#include "platform/SyncCountingFiles.h"
#include "platform/sqlite/SqliteDatabase.h"
#include "platform/sqlite/SqliteStatement.h"
#include "reset/ResetRun.h"
#include "standin/SimHost.h"
#include "standin/SimSettings.h"
#include "standin/server/ServerSql.h"
#include "standin/server/StandInServer.h"

#include <optional>
#include <stdexcept>

namespace zeph::bench {
namespace {

namespace server = zeph::sqlite::server;

// The moves that give the re-created subscriber's rows the old ids, one statement a table:
// ?1 is the old id, ?2 the new one. The call handler's owner and recipient are the subscriber.
const char *const kSubscriberMoves[] = {
    "UPDATE NotificationDevice SET ParentObjectID = ?1 WHERE ParentObjectID = ?2",
    "UPDATE NotificationRule SET ParentObjectID = ?1 WHERE ParentObjectID = ?2",
    "UPDATE NotificationMWI SET ParentObjectID = ?1 WHERE ParentObjectID = ?2",
    "UPDATE DTMFAccessID SET ParentObjectID = ?1 WHERE ParentObjectID = ?2",
};
const char *const kCallHandlerMoves[] = {
    "UPDATE ContactRule SET ParentObjectID = ?1 WHERE ParentObjectID = ?2",
    "UPDATE MessagingRule SET ParentObjectID = ?1 WHERE ParentObjectID = ?2",
    "UPDATE MenuEntry SET ParentObjectID = ?1 WHERE ParentObjectID = ?2",
};

constexpr int kMailFolders[] = {kFolderInbox, kFolderSentItems, kFolderDeletedItems};

// What the reset of one subscriber keeps.
struct Subscriber {
    // A name that is NULL is passed on as empty text, as the program reads it.
    std::string objectId, alias, callHandlerId, firstName, lastName, displayName, extension,
        directoryId;
    std::optional<std::string> voiceName, smtpAddress, homeServer;
    std::vector<std::string> alternateExtensions;
};

DbValue text(const std::string &value) {
    return DbValue(value);
}

std::optional<std::string> optionalText(const DbValue &value) {
    if (server::isNull(value))
        return std::nullopt;
    return server::asText(value);
}

DbParam param(const char *name, DbParamType type, DbValue value) {
    DbParam p;
    p.name = name;
    p.type = type;
    p.value = std::move(value);
    return p;
}

} // namespace

struct Floor::Impl {
    Impl(const std::string &hostFolder, std::uint64_t serverGuidSeed)
        : host(sim::openHost(hostFolder, [](const std::string &) {}))
        , settings(sim::SimSettings::load(hostFolder, nullptr))
        , serverGuids(serverGuidSeed)
        , connection(sim::databasePath(hostFolder), false)
        , journalCounts(std::make_shared<FileSyncCounts>()) {
        if (!host)
            throw std::runtime_error("the floor cannot open the host " + hostFolder);
        context.setting = [this](const std::string &name) { return settings.get(name); };
        context.clock = host->clock.get();
        context.guids = &serverGuids;
        sqlite::useProgramSettings(db());
        durable = std::make_unique<sqlite::DurablePoints>(db());
        server::exec(db(), "PRAGMA busy_timeout=10000");
        files = std::make_unique<SyncCountingFiles>(std::move(host->files), journalCounts);
        RegistryAPI registry(*host->registry);
        const std::string root = regText(registry.QueryValue(
            HKEY_LOCAL_MACHINE, kPradixKey, kRootPathValue, REG_SZ, std::string()));
        recordingsRoot = root;
        streamFilesRoot = root + "Stream Files\\";
        journal = files->openTextFile(hostFolder + "/floor-journal.txt", false);
        if (!journal)
            throw std::runtime_error("the floor's journal cannot be made in " + hostFolder);
    }

    sqlite3 *db() const { return connection.get(); }

    void failed(const std::string &what, const Error &e) {
        if (failures++ == 0)
            firstFailure = what + ": " + e.description();
    }

    // --- reading and checking ------------------------------------------------------------------

    std::optional<Subscriber> capture(const std::string &objectId) {
        sqlite::StatementUse read = server::statement(
            db(), "SELECT Alias, CallHandlerObjectID, FirstName, LastName, DisplayName, "
                  "DTMFAccessID, DirectoryID, StreamPath, SMTPAddress, HomeServer "
                  "FROM vw_Subscriber WHERE SubscriberObjectID = ?");
        read->bind(1, text(objectId));
        if (!read->step())
            return std::nullopt;
        // A subscriber without a call handler, a primary extension or a directory account is
        // skipped, as the program skips one whose checks cannot all be made.
        if (read->isNull(1) || read->isNull(5) || read->isNull(6))
            return std::nullopt;
        Subscriber s;
        s.objectId = objectId;
        s.alias = read->text(0);
        s.callHandlerId = read->text(1);
        s.firstName = read->text(2);
        s.lastName = read->text(3);
        s.displayName = read->text(4);
        s.extension = read->text(5);
        s.directoryId = read->text(6);
        s.voiceName = optionalText(read->value(7));
        s.smtpAddress = optionalText(read->value(8));
        s.homeServer = optionalText(read->value(9));
        return s;
    }

    // The extension must be the subscriber's alone in the dialing domain.
    bool extensionShared(const Subscriber &s) {
        sqlite::StatementUse count = server::statement(
            db(), "SELECT count(*) FROM (SELECT 1 FROM vw_DTMFAccessID_DialingDomain "
                  "WHERE DTMFAccessID = ? LIMIT 2)");
        count->bind(1, text(s.extension));
        return count->step() && count->integer(0) >= 2;
    }

    void saveAlternateExtensions(Subscriber &s) {
        sqlite::StatementUse alternates = server::statement(
            db(), "SELECT DTMFAccessID FROM vw_DTMFAccessID WHERE ParentObjectID = ? "
                  "and IsPrimaryID = 0");
        alternates->bind(1, text(s.objectId));
        while (alternates->step()) {
            if (!alternates->isNull(0))
                s.alternateExtensions.push_back(alternates->text(0));
        }
    }

    // --- the journal -----------------------------------------------------------------------------

    bool record(const std::string &line) {
        if (const Status written = journal->writeLine(line); !written)
            throw std::runtime_error("the floor's journal cannot be written (" + written.error() +
                                     ")");
        return true;
    }

    void recordBegin(const Subscriber &s, const std::string &ticket) {
        std::string line = "begin\t" + s.objectId + "\t" + s.callHandlerId + "\t" + s.alias + "\t" +
                           s.displayName + "\t" + s.firstName + "\t" + s.lastName + "\t" +
                           s.extension + "\t" + s.directoryId + "\t" + plan.templateAlias + "\t" +
                           ticket;
        for (const std::string &extension : s.alternateExtensions)
            line += "\t" + extension;
        record(line);
    }

    // --- files and mailbox -----------------------------------------------------------------------

    // As the program finds a recording: below the stream folder, else at the path itself; never
    // outside the recordings folder.
    void deleteRecording(const std::string &streamPath) {
        std::string path = streamFilesRoot + streamPath;
        if (!files->fileExists(path)) {
            path = streamPath;
            if (!files->fileExists(path))
                return;
        }
        if (!files->liesInside(path, recordingsRoot))
            return;
        try {
            files->deleteFile(path, true);
        } catch (const Error &e) {
            failed("deleting " + path, e);
        }
    }

    std::vector<std::string> greetings(const Subscriber &s) {
        std::vector<std::string> paths;
        sqlite::StatementUse read =
            server::statement(db(), "SELECT StreamPath FROM MessagingRule WHERE ParentObjectID = ? "
                                    "AND StreamPath IS NOT NULL");
        read->bind(1, text(s.callHandlerId));
        while (read->step())
            paths.push_back(read->text(0));
        return paths;
    }

    void emptyMailbox(const Subscriber &s) {
        if (!s.smtpAddress || !host->mail)
            return;
        try {
            std::unique_ptr<IMailSession> session = host->mail->createSession();
            if (!session)
                return;
            session->logon("", "", false, s.homeServer.value_or("") + "\n" + *s.smtpAddress);
            if (equalsIgnoreCase(session->currentUser(), "unknown"))
                return;
            for (int number : kMailFolders) {
                std::unique_ptr<IMailFolder> folder = session->defaultFolder(number);
                while (std::optional<std::string> message = folder->firstMessage())
                    folder->deleteMessage(*message);
            }
        } catch (const Error &) {
            // A mailbox that does not resolve or cannot be emptied fails in the program too.
        }
    }

    // --- the database ----------------------------------------------------------------------------

    std::optional<DbRowSet> call(const std::string &name, const std::vector<DbParam> &args) {
        return sqlite::callServerProcedure(db(), name, args, context);
    }

    void run(const char *sql, const std::vector<DbValue> &values) {
        server::statement(db(), sql)->bindAll(values).run();
    }

    // The synchroniser's answer to a ticket: true once it has answered (the ticket is then
    // deleted in the next transaction).
    bool answered(const std::string &ticket) {
        sqlite::StatementUse read =
            server::statement(db(), "SELECT result FROM vw_DirectorySyncTicket WHERE Ticket = ?");
        read->bind(1, text(ticket));
        return read->step() && !read->isNull(0);
    }

    void deleteAnsweredTickets() {
        for (const std::string &ticket : answeredTickets)
            call("sp_DeleteDirectorySyncTicket", {param("@Ticket", DbParamType::Guid, ticket)});
        answeredTickets.clear();
    }

    // Each of the two transactions commits what it could do: a step the server refuses is
    // refused alone, as in the program.
    template <class Step> void step(const std::string &what, Step &&work) {
        try {
            work();
        } catch (const Error &e) {
            failed(what, e);
        }
    }

    void removal(const Subscriber &s, const std::vector<std::string> &greetingPaths,
                 const std::string &ticket) {
        server::exec(db(), "BEGIN IMMEDIATE");
        step("deleting answered tickets", [&] { deleteAnsweredTickets(); });
        if (s.voiceName)
            step("clearing the voice name", [&] {
                run("UPDATE Subscriber SET StreamPath = NULL WHERE SubscriberObjectID = ?",
                    {s.objectId});
            });
        if (!greetingPaths.empty())
            step("clearing the greetings", [&] {
                run("UPDATE MessagingRule SET StreamPath = NULL WHERE ParentObjectID = ? "
                    "AND StreamPath IS NOT NULL",
                    {s.callHandlerId});
            });
        bool removed = false;
        step("sp_DeleteSubscriber", [&] {
            call("sp_DeleteSubscriber",
                 {param("@SubscriberObjectID", DbParamType::Guid, s.objectId),
                  param("@DirectorySync", DbParamType::Integer, 1),
                  param("@ForceRemove", DbParamType::Integer, 0),
                  param("@DirectorySyncTicket", DbParamType::Guid, ticket)});
            removed = true;
        });
        server::exec(db(), "COMMIT");
        if (removed && answered(ticket))
            answeredTickets.push_back(ticket);
    }

    void creation(const Subscriber &s, const std::string &ticket) {
        server::exec(db(), "BEGIN IMMEDIATE");
        step("deleting answered tickets", [&] { deleteAnsweredTickets(); });
        std::string newId;
        std::string newHandlerId;
        step("sp_CreateSubscriber", [&] {
            std::optional<DbRowSet> rows =
                call("sp_CreateSubscriber",
                     {param("@Alias", DbParamType::Text, s.alias),
                      param("@DtmfAccessId", DbParamType::Text, s.extension),
                      param("@templateAlias", DbParamType::Text, plan.templateAlias),
                      param("@SubscriberType", DbParamType::Integer, 1),
                      param("@Undeletable", DbParamType::Integer, 0),
                      param("@DisplayName", DbParamType::Text, s.displayName),
                      param("@DirectoryID", DbParamType::Guid, s.directoryId),
                      param("@Uid", DbParamType::Text, s.alias),
                      param("@FirstName", DbParamType::Text, s.firstName),
                      param("@LastName", DbParamType::Text, s.lastName),
                      param("@DirectorySync", DbParamType::Integer, 0)});
            if (!rows || rows->rows.size() != 1)
                return;
            for (std::size_t c = 0; c < rows->columns.size(); ++c) {
                const std::string &name = rows->columns[c].name;
                if (equalsIgnoreCase(name, "SubscriberObjectID"))
                    newId = server::asText(rows->rows[0][c]);
                else if (equalsIgnoreCase(name, "CallHandlerObjectID"))
                    newHandlerId = server::asText(rows->rows[0][c]);
            }
        });
        if (!newId.empty()) {
            step("writing back the ids", [&] {
                run("UPDATE Subscriber SET SubscriberObjectID = ?, CallHandlerObjectID = ? "
                    "WHERE SubscriberObjectID = ?",
                    {s.objectId, s.callHandlerId, newId});
            });
            addBackAlternateExtensions(s);
            step("moving the references", [&] { moveReferences(s, newId, newHandlerId); });
        }
        step("sp_ModifySubscriber", [&] {
            call("sp_ModifySubscriber",
                 {param("@SubscriberObjectID", DbParamType::Guid, s.objectId),
                  param("@DirectorySyncTicket", DbParamType::Guid, ticket),
                  param("@DirectorySync", DbParamType::Integer, 1)});
        });
        server::exec(db(), "COMMIT");
    }

    // An extension taken meanwhile is not added back, and the others still are.
    void addBackAlternateExtensions(const Subscriber &s) {
        int n = 0;
        for (const std::string &extension : s.alternateExtensions) {
            ++n;
            try {
                run("INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, DTMFAccessID, "
                    "DTMFAccessIDType, Alias, IsPrimaryID) VALUES (?, 1, ?, 1, ?, 0)",
                    {s.objectId, extension, "SYSTEM_DEFINED_ALT_EXT_" + std::to_string(n)});
            } catch (const Error &) {
            }
        }
    }

    void moveReferences(const Subscriber &s, const std::string &newId,
                        const std::string &newHandlerId) {
        run("UPDATE GlobalSubscriber SET SubscriberObjectID = ?, CallHandlerObjectID = ?, "
            "StreamPath = NULL WHERE SubscriberObjectID = ?",
            {s.objectId, s.callHandlerId, newId});
        for (const char *sql : kSubscriberMoves)
            run(sql, {s.objectId, newId});
        run("UPDATE CallHandler SET AdministratorObjectID = ?1, RecipientObjectID = ?1, "
            "CallHandlerObjectID = ?2, IsPrimary = 1 WHERE CallHandlerObjectID = ?3",
            {s.objectId, s.callHandlerId, newHandlerId});
        for (const char *sql : kCallHandlerMoves)
            run(sql, {s.callHandlerId, newHandlerId});
    }

    // --- a subscriber and the run ----------------------------------------------------------------

    /// False when the subscriber was skipped.
    bool reset(const std::string &objectId) {
        std::optional<Subscriber> found = capture(objectId);
        if (!found || extensionShared(*found))
            return false;
        Subscriber &s = *found;
        if (plan.preserveAlternateExtensions)
            saveAlternateExtensions(s);
        const std::string removalTicket = host->guids->newGuid();
        const std::string creationTicket = host->guids->newGuid();
        recordBegin(s, removalTicket);

        // The description's order: the recordings and the mailbox go before the subscriber.
        if (s.voiceName)
            deleteRecording(*s.voiceName);
        const std::vector<std::string> greetingPaths = greetings(s);
        for (const std::string &path : greetingPaths)
            deleteRecording(path);
        emptyMailbox(s);

        removal(s, greetingPaths, removalTicket);
        creation(s, creationTicket);
        durable->makeDurable();
        if (answered(creationTicket))
            answeredTickets.push_back(creationTicket);
        record("end\t" + s.objectId);
        return true;
    }

    void resetNext() {
        while (next < plan.objectIds.size()) {
            if (reset(plan.objectIds[next++])) {
                ++resetCount;
                return;
            }
            ++skippedCount;
        }
    }

    void endRun() {
        while (next < plan.objectIds.size())
            resetNext();
        // The program asks for it at the end of every run it was not stopped in.
        server::exec(db(), "BEGIN IMMEDIATE");
        step("deleting answered tickets", [&] { deleteAnsweredTickets(); });
        step("sp_SqlDirectorySync", [&] {
            call("sp_SqlDirectorySync", {param("@SyncDistributionList", DbParamType::Integer, 1)});
        });
        server::exec(db(), "COMMIT");
        durable->makeDurable();
        record("lists synchronised");
    }

    std::unique_ptr<Host> host;
    sim::SimSettings settings;
    SequenceGuids serverGuids;
    sqlite::ServerContext context;
    server::Connection connection;
    // As the program's connections make their changes lasting.
    std::unique_ptr<sqlite::DurablePoints> durable;
    std::shared_ptr<FileSyncCounts> journalCounts;
    std::unique_ptr<IFileSystem> files;
    std::unique_ptr<ITextFileWriter> journal;
    std::string recordingsRoot;
    std::string streamFilesRoot;

    FloorPlan plan;
    std::size_t next = 0;
    int resetCount = 0;
    int skippedCount = 0;
    std::vector<std::string> answeredTickets;
    int failures = 0;
    std::string firstFailure;
};

Floor::Floor(const std::string &hostFolder, std::uint64_t serverGuidSeed)
    : m_impl(std::make_unique<Impl>(hostFolder, serverGuidSeed)) {}

Floor::~Floor() = default;

void Floor::plan(FloorPlan plan) {
    m_impl->plan = std::move(plan);
    m_impl->next = 0;
}

void Floor::resetNext() {
    if (!active)
        return;
    Stopwatch watch;
    m_impl->resetNext();
    m_spent.wallMs += watch.ms();
    m_spent.cpuMs += watch.cpuMs();
}

void Floor::endRun() {
    if (!active)
        return;
    Stopwatch watch;
    m_impl->endRun();
    m_spent.wallMs += watch.ms();
    m_spent.cpuMs += watch.cpuMs();
}

long Floor::journalSyncs() const {
    return m_impl->journalCounts->syncs;
}

int Floor::subscribersReset() const {
    return m_impl->resetCount;
}

int Floor::subscribersSkipped() const {
    return m_impl->skippedCount;
}

int Floor::failures() const {
    return m_impl->failures;
}

const std::string &Floor::firstFailure() const {
    return m_impl->firstFailure;
}

} // namespace zeph::bench
