#include "Floor.h"
#include "platform/AsciiText.h"

#include "BenchHost.h"
#include "platform/Error.h"
#include "platform/ForwardingDatabase.h"
#include "platform/SyncCountingFiles.h"
#include "platform/posix/Posix.h"
#include "platform/sqlite/SqliteStatement.h"
#include "platform/sqltext/SqlText.h"
#include "standin/SimHost.h"
#include "standin/SimSettings.h"
#include "standin/server/ServerSql.h"
#include "standin/server/StandInServer.h"

#include <cctype>
#include <optional>
#include <unordered_map>

namespace zeph::bench {
namespace {

namespace server = zeph::sqlite::server;

bool isGuidText(const std::string &s) {
    return s.size() == 38 && s.front() == '{' && s.back() == '}';
}

/// Ids the database made up itself (random keys of added rows) differ between the program's
/// database and the floor's; they are learnt from the rows that come back and put in place of
/// the program's in later statements.
class IdMap {
public:
    DbValue map(const DbValue &v) const {
        if (m_ids.empty())
            return v;
        const auto *text = std::get_if<std::string>(&v);
        if (!text || !isGuidText(*text))
            return v;
        auto it = m_ids.find(upperAscii(*text));
        return it == m_ids.end() ? v : DbValue(it->second);
    }
    std::vector<DbValue> map(const std::vector<DbValue> &values) const {
        std::vector<DbValue> out;
        out.reserve(values.size());
        for (const DbValue &v : values)
            out.push_back(map(v));
        return out;
    }
    void learn(const DbValue &program, const DbValue &floor) {
        const auto *a = std::get_if<std::string>(&program);
        const auto *b = std::get_if<std::string>(&floor);
        if (a && b && isGuidText(*a) && isGuidText(*b) && upperAscii(*a) != upperAscii(*b))
            m_ids[upperAscii(*a)] = *b;
    }

private:
    std::unordered_map<std::string, std::string> m_ids;
};

std::string nameInSql(const std::string &name) {
    return name == "rowid" ? name : sqlite::quoteName(name);
}

// The statement a request becomes, made before the clock starts.
std::string statementText(const Request &r) {
    switch (r.kind) {
    case Request::Kind::Query: {
        if (r.columns.empty())
            return r.text;
        // The backend reads the keys of an updatable query's rows too, so the floor does.
        auto shape = sqltext::singleSourceSelect(r.text);
        if (!shape)
            return r.text;
        std::string keys;
        for (const std::string &key : r.columns)
            keys += " " + nameInSql(key) + ",";
        std::string sql = r.text;
        sql.insert(shape->selectListOffset, keys);
        return sql;
    }
    case Request::Kind::Update: {
        const std::size_t changed = r.columns.size() - r.keyCount;
        std::string sql = "UPDATE " + sqlite::quoteName(r.text) + " SET ";
        for (std::size_t i = 0; i < changed; ++i)
            sql += (i ? ", " : "") + sqlite::quoteName(r.columns[i]) + " = ?";
        for (std::size_t i = changed; i < r.columns.size(); ++i)
            sql += (i == changed ? " WHERE " : " AND ") + nameInSql(r.columns[i]) + " = ?";
        return sql;
    }
    case Request::Kind::Insert: {
        std::string sql = "INSERT INTO " + sqlite::quoteName(r.text);
        if (r.columns.empty())
            return sql + " DEFAULT VALUES";
        std::string names;
        std::string marks;
        for (std::size_t i = 0; i < r.columns.size(); ++i) {
            names += (i ? ", " : "") + sqlite::quoteName(r.columns[i]);
            marks += i ? ", ?" : "?";
        }
        return sql + " (" + names + ") VALUES (" + marks + ")";
    }
    case Request::Kind::Procedure:
        break;
    }
    return r.text;
}

const char *kindName(Request::Kind kind) {
    switch (kind) {
    case Request::Kind::Query:
        return "query";
    case Request::Kind::Update:
        return "update of";
    case Request::Kind::Insert:
        return "insert into";
    case Request::Kind::Procedure:
        return "procedure";
    }
    return "request";
}

} // namespace

struct Floor::Impl {
    Impl(const std::string &hostFolder, std::uint64_t serverGuidSeed)
        : settings(sim::SimSettings::load(hostFolder, nullptr))
        , guids(serverGuidSeed)
        , connection(sim::databasePath(hostFolder), false)
        , journalCounts(std::make_shared<FileSyncCounts>())
        , files(posix::makeFileSystem(), journalCounts) {
        context.setting = [this](const std::string &name) { return settings.get(name); };
        context.guids = &guids;
        // Each commit reaches the disk before it returns: one durable commit per subscriber.
        server::exec(connection.get(), "PRAGMA synchronous=FULL");
        journal = files.openTextFile(hostFolder + "/floor-journal.txt", false);
        if (!journal)
            throw Error(errnum::kInternal, "the floor's journal cannot be made in " + hostFolder);
    }

    /// A subscriber's requests go into one transaction, begun by its first.
    void beginIfNeeded() {
        if (!inTransaction)
            server::exec(connection.get(), "BEGIN");
        inTransaction = true;
    }

    void commit() {
        if (inTransaction)
            server::exec(connection.get(), "COMMIT");
        inTransaction = false;
    }

    void endSubscriber() {
        commit();
        for (const char *record : {"begin", "created", "finished"})
            journal->writeLine(record);
    }

    /// Issues one request; false when its outcome differs from the program's.
    bool issue(const Request &r, const std::string &sql) {
        lastError.clear();
        try {
            beginIfNeeded();
            bool same = true;
            switch (r.kind) {
            case Request::Kind::Query:
                same = query(r, sql);
                break;
            case Request::Kind::Update:
            case Request::Kind::Insert:
                server::statement(connection.get(), sql)->bindAll(ids.map(r.values)).run();
                break;
            case Request::Kind::Procedure:
                same = procedure(r);
                break;
            }
            return same && !r.failed;
        } catch (const Error &e) {
            lastError = e.description();
            return r.failed;
        }
    }

    bool query(const Request &r, const std::string &sql) {
        sqlite::StatementUse use = server::statement(connection.get(), sql);
        sqlite::Statement &stmt = *use;
        stmt.bindAll(ids.map(r.values));
        const int columns = stmt.columnCount();
        std::size_t row = 0;
        for (; stmt.step(); ++row) {
            const bool seen = row < r.rows.size();
            for (int c = 0; c < columns; ++c) {
                DbValue v = stmt.value(c);
                const auto col = static_cast<std::size_t>(c);
                if (seen && col < r.rows[row].size())
                    ids.learn(r.rows[row][col], v);
            }
        }
        return row == r.rows.size();
    }

    bool procedure(const Request &r) {
        std::vector<DbParam> args = r.args;
        for (DbParam &a : args)
            a.value = ids.map(a.value);
        std::optional<DbRowSet> rows =
            sqlite::callServerProcedure(connection.get(), r.text, args, context);
        if (rows.has_value() != r.hasRows)
            return false;
        if (!rows)
            return true;
        for (std::size_t i = 0; i < rows->rows.size() && i < r.rows.size(); ++i) {
            for (std::size_t c = 0; c < rows->rows[i].size() && c < r.rows[i].size(); ++c)
                ids.learn(r.rows[i][c], rows->rows[i][c]);
        }
        return rows->rows.size() == r.rows.size();
    }

    sim::SimSettings settings;
    SequenceGuids guids;
    sqlite::ServerContext context;
    server::Connection connection;
    IdMap ids;
    std::string lastError;
    std::shared_ptr<FileSyncCounts> journalCounts;
    SyncCountingFiles files;
    std::unique_ptr<ITextFileWriter> journal;
    bool inTransaction = false;
};

Floor::Floor(const std::string &hostFolder, std::uint64_t serverGuidSeed)
    : m_impl(std::make_unique<Impl>(hostFolder, serverGuidSeed)) {}

Floor::~Floor() = default;

void Floor::endSubscriber() {
    if (!active)
        return;
    Stopwatch watch;
    m_impl->endSubscriber();
    m_spent.wallMs += watch.ms();
    m_spent.cpuMs += watch.cpuMs();
}

void Floor::endRun() {
    Stopwatch watch;
    m_impl->commit();
    m_spent.wallMs += watch.ms();
    m_spent.cpuMs += watch.cpuMs();
}

long Floor::journalSyncs() const {
    return m_impl->journalCounts->syncs;
}

void Floor::issue(const Request &request) {
    if (!active)
        return;
    const std::string sql = statementText(request);
    Stopwatch watch;
    const bool same = m_impl->issue(request, sql);
    m_spent.wallMs += watch.ms();
    m_spent.cpuMs += watch.cpuMs();
    if (!same && m_mismatches++ == 0) {
        m_firstMismatch = std::string(kindName(request.kind)) + " " + request.text + " (request " +
                          std::to_string(m_requests) + "): " +
                          (request.failed              ? "it failed in the program's run, not here"
                           : m_impl->lastError.empty() ? std::string("other rows came back")
                                                       : "here it failed: " + m_impl->lastError);
    }
    ++m_requests;
}

namespace {

// An operator's query (queryWithin), the transaction calls and the write probe pass on
// unmirrored: they are no part of a reset's requests.
class MirroredConnection : public ForwardingConnection {
public:
    MirroredConnection(std::unique_ptr<IDbConnection> connection, std::shared_ptr<Floor> floor)
        : ForwardingConnection(std::move(connection))
        , m_floor(std::move(floor)) {}

    DbRowSet query(const std::string &sql, const std::vector<DbValue> &params,
                   bool readOnly) override {
        if (!m_floor->active)
            return inner().query(sql, params, readOnly);
        Request r = request(Request::Kind::Query, sql);
        r.values = params;
        return mirror(r, [&] { return inner().query(sql, params, readOnly); });
    }

    void updateRow(const std::string &target, const std::vector<std::string> &keyColumns,
                   const std::vector<DbValue> &keyValues, const std::vector<std::string> &columns,
                   const std::vector<DbValue> &values) override {
        if (!m_floor->active)
            return inner().updateRow(target, keyColumns, keyValues, columns, values);
        Request r = request(Request::Kind::Update, target);
        r.columns = columns;
        r.columns.insert(r.columns.end(), keyColumns.begin(), keyColumns.end());
        r.values = values;
        r.values.insert(r.values.end(), keyValues.begin(), keyValues.end());
        r.keyCount = keyColumns.size();
        mirror(r, [&] {
            inner().updateRow(target, keyColumns, keyValues, columns, values);
            return 0;
        });
    }

    std::optional<std::vector<DbValue>>
    insertRow(const std::string &target, const std::vector<std::string> &columns,
              const std::vector<DbValue> &values,
              const std::vector<std::string> &readBack) override {
        if (!m_floor->active)
            return inner().insertRow(target, columns, values, readBack);
        Request r = request(Request::Kind::Insert, target);
        r.columns = columns;
        r.values = values;
        return mirror(r, [&] { return inner().insertRow(target, columns, values, readBack); });
    }

    std::optional<DbRowSet> callProcedure(const std::string &name,
                                          const std::vector<DbParam> &args) override {
        if (!m_floor->active)
            return inner().callProcedure(name, args);
        Request r = request(Request::Kind::Procedure, name);
        r.args = args;
        return mirror(r, [&] { return inner().callProcedure(name, args); });
    }

private:
    static Request request(Request::Kind kind, const std::string &text) {
        Request r;
        r.kind = kind;
        r.text = text;
        return r;
    }

    // Runs the program's request, then the floor's with what the program's gave.
    template <class Run> auto mirror(Request &r, Run &&run) -> decltype(run()) {
        try {
            auto result = run();
            note(r, result);
            m_floor->issue(r);
            return result;
        } catch (...) {
            r.failed = true;
            m_floor->issue(r);
            throw;
        }
    }

    static void note(Request &r, const DbRowSet &rows) {
        r.hasRows = true;
        for (const DbColumn &c : rows.columns) {
            if (c.hidden)
                r.columns.push_back(c.name);
        }
        r.rows = rows.rows;
    }
    static void note(Request &r, const std::optional<DbRowSet> &rows) {
        if (rows) {
            r.hasRows = true;
            r.rows = rows->rows;
        }
    }
    template <class Other> static void note(Request &, const Other &) {}

    std::shared_ptr<Floor> m_floor;
};

class MirroredDatabase : public ForwardingDatabase {
public:
    MirroredDatabase(std::unique_ptr<IDatabase> database, std::shared_ptr<Floor> floor)
        : ForwardingDatabase(std::move(database))
        , m_floor(std::move(floor)) {}
    std::unique_ptr<IDbConnection> connect(const std::string &connectionText) override {
        return std::make_unique<MirroredConnection>(inner().connect(connectionText), m_floor);
    }

private:
    std::shared_ptr<Floor> m_floor;
};

} // namespace

std::unique_ptr<IDatabase> mirroredDatabase(std::unique_ptr<IDatabase> inner,
                                            std::shared_ptr<Floor> floor) {
    return std::make_unique<MirroredDatabase>(std::move(inner), std::move(floor));
}

} // namespace zeph::bench
