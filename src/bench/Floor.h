#pragma once
// The floor that SQLite itself sets for a reset run: the minimal work of a reset. Every request
// the program makes of the database during the run is issued again, the moment it returns,
// straight to SQLite on a copy of the host's database as it was before the run, with no program
// logic around it: each statement prepared once and kept, each query bound and read to its end,
// each row change one UPDATE or INSERT, each stored procedure as the server runs it, and one
// durable transaction per subscriber, plus the syncs of the three journal records a recovery
// needs (the entry's beginning, the creation, the end).
//
// Issuing each request right after the program's own puts both under the same conditions on a
// shared machine (a busy disk slows both alike); the floor's time is kept apart and taken off
// the program's.

#include "Measure.h"
#include "platform/Database.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zeph::bench {

/// One request the program made, with what it got back.
struct Request {
    enum class Kind { Query, Update, Insert, Procedure };
    Kind kind = Kind::Query;
    /// The query text, the table or view saved to, or the procedure's name.
    std::string text;
    /// Query: its values. Update: the new values, then the key values. Insert: the values.
    std::vector<DbValue> values;
    /// Query: the key columns the backend read beside the selected ones. Update: the changed
    /// columns, then the key columns. Insert: the columns.
    std::vector<std::string> columns;
    std::size_t keyCount = 0;
    std::vector<DbParam> args;
    /// The rows that came back (query, procedure); none for a procedure without a result.
    bool hasRows = false;
    std::vector<std::vector<DbValue>> rows;
    /// The request failed in the program's run.
    bool failed = false;
};

class Floor {
public:
    /// Opens the database of `hostFolder`, a copy of the program's host made before the run.
    /// Stored procedures draw their ids from a sequence seeded with `serverGuidSeed`, as the
    /// program's do; ids the database makes up itself are carried over from what comes back.
    Floor(const std::string &hostFolder, std::uint64_t serverGuidSeed);
    ~Floor();
    Floor(const Floor &) = delete;
    Floor &operator=(const Floor &) = delete;

    /// Requests are issued only while active.
    bool active = false;

    /// Issues a request the program has just made.
    void issue(const Request &request);
    /// The program finished a subscriber: its transaction commits and the journal's records
    /// are synced.
    void endSubscriber();
    /// The program's run ended: what is still in the floor's transaction (a subscriber the
    /// program skipped) commits.
    void endRun();
    /// The disk syncs of the floor's journal records so far (its database's are counted by
    /// the folder of its host).
    long journalSyncs() const;

    /// Time spent issuing requests.
    const Timing &spent() const { return m_spent; }
    std::size_t requests() const { return m_requests; }
    /// Requests whose outcome differed from the program's (row count, failure): the floor did
    /// not repeat the program's work exactly.
    std::size_t mismatches() const { return m_mismatches; }
    const std::string &firstMismatch() const { return m_firstMismatch; }

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    Timing m_spent;
    std::size_t m_requests = 0;
    std::size_t m_mismatches = 0;
    std::string m_firstMismatch;
};

/// A layer over the host's database that passes every request of the program to the floor
/// (while it is active) after it has run.
std::unique_ptr<IDatabase> mirroredDatabase(std::unique_ptr<IDatabase> inner,
                                            std::shared_ptr<Floor> floor);

} // namespace zeph::bench
