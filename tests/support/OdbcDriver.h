#pragma once
// Where the tests find the SQLite ODBC driver: named by its file, so that no registration with
// the driver manager is needed.

#include <filesystem>
#include <string>

namespace zeph::test {

/// The driver library's path; empty when it is not installed.
inline std::string sqliteOdbcDriver() {
    for (const char *folder : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc",
                               "/usr/lib/odbc", "/usr/lib64"}) {
        const std::string path = std::string(folder) + "/libsqlite3odbc.so";
        if (std::filesystem::exists(path))
            return path;
    }
    return {};
}

} // namespace zeph::test
