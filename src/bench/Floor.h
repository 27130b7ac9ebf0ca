#pragma once
// The floor of a reset run: the least work a correct reset of the same subscribers needs, done
// on a copy of the host as it was before the run, written on its own and not as a replay of
// the program's requests. It reads each subscriber with one keyed query, checks it as the
// program does, saves its alternate extensions, deletes its recordings and empties its mailbox
// through the host's own interfaces, and changes the database in two transactions: the removal
// (with its recordings' paths cleared), then the creation, the old ids written back, the
// alternate extensions added back, the references moved in one statement a table, and the
// re-synchronisation. The server's stored procedures are the same and the database connection
// is set as the program's (Database layer settings). Three disk syncs a subscriber: a journal
// record before its first change, the database's write-ahead log after its second transaction,
// and a journal record that closes it. The run ends with the distribution lists' synchronisation.
//
// The program's run calls it after each subscriber it finished, so that both meet the disk of
// the same moment; the floor's time is kept apart and taken off the program's.

#include "Measure.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zeph::bench {

/// What a floor run is to reset, as the program's run is given it.
struct FloorPlan {
    /// The subscribers' object ids, in the order of the grid's ticked rows.
    std::vector<std::string> objectIds;
    std::string templateAlias;
    bool preserveAlternateExtensions = true;
};

class Floor {
public:
    /// Opens `hostFolder`, a copy of the program's host made before the run. Stored procedures
    /// draw their ids from a sequence seeded with `serverGuidSeed`, as the program's do.
    Floor(const std::string &hostFolder, std::uint64_t serverGuidSeed);
    ~Floor();
    Floor(const Floor &) = delete;
    Floor &operator=(const Floor &) = delete;

    /// The subscribers to reset; taken from the start again.
    void plan(FloorPlan plan);

    /// Work is done only while active.
    bool active = false;

    /// The program finished a subscriber: the floor resets its next one (passing over those its
    /// checks skip, as the program's do).
    void resetNext();
    /// The program's run ended: the floor resets the subscribers it has left and ends its run.
    void endRun();

    /// The disk syncs of the floor's journal so far (its database's are counted by the folder of
    /// its host).
    long journalSyncs() const;
    /// Time spent working.
    const Timing &spent() const { return m_spent; }
    int subscribersReset() const;
    int subscribersSkipped() const;
    /// Steps the server refused (a procedure that failed, a statement that failed); the first's
    /// description. A floor that failed where the program did not did other work than it.
    int failures() const;
    const std::string &firstFailure() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    Timing m_spent;
};

} // namespace zeph::bench
