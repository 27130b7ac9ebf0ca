#pragma once
// Language libraries: resource-only libraries that hold a string table.

#include <optional>
#include <string>

namespace zeph {

class IResourceLoader {
public:
    virtual ~IResourceLoader() = default;
    /// The string with this id from the library file's string table (UTF-8), or nothing when
    /// the file cannot be read, is not a valid library, or has no such string.
    virtual std::optional<std::string> loadString(const std::string &libraryPath, unsigned id) = 0;
};

} // namespace zeph
