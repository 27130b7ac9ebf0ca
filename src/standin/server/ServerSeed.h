#pragma once
// Deterministic content of a new server database: the same seed always gives the same rows,
// recordings and mailboxes.

#include "StandInServer.h"

#include <cstdint>
#include <string>

struct sqlite3;

namespace zeph::sqlite::server {

/// splitmix64: a small generator whose output is the same on every platform and library.
class Rng {
public:
    explicit Rng(std::uint64_t seed)
        : m_state(seed) {}
    std::uint64_t next();
    /// A number in [0, n); n > 0.
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    /// True with the given chance in percent.
    bool chance(int percent) { return below(100) < percent; }
    /// A braced upper-case GUID text (version 4 form).
    std::string guid();

private:
    std::uint64_t m_state;
};

/// Fills an empty database that has the schema with seeded rows and writes the recordings
/// under options.rootPath + "Stream Files/" and the mailboxes under options.mailstoreFolder.
/// Runs inside the caller's transaction. Throws Error (or std::filesystem errors) on failure.
void seedServer(sqlite3 *db, const SeedOptions &options);

/// The extension of the seeded subscriber number i (0-based): every seeded host numbers its
/// subscribers' primary extensions this way.
std::string seededExtension(int index);

} // namespace zeph::sqlite::server
