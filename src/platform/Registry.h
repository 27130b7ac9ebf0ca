#pragma once
// The registry as the host offers it: a hierarchical key/value store with typed values.
// Each call opens the key, does one thing and closes it again; no handle outlives a call.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zeph {

enum class RegRoot : std::uint32_t {
    ClassesRoot = 0x80000000,
    CurrentUser = 0x80000001,
    LocalMachine = 0x80000002,
    Users = 0x80000003,
};

/// Registry type codes, as Windows numbers them.
inline constexpr std::uint32_t REG_SZ_ = 1;
inline constexpr std::uint32_t REG_BINARY_ = 3;
inline constexpr std::uint32_t REG_DWORD_ = 4;

/// A value as stored: its type code and its raw data. The data of the text types (1, 2 and 7)
/// is UTF-8 (this OS's "ANSI" code page) including the terminating zero, as the ANSI registry
/// calls return it; every other type's data is its bytes as they are.
struct RegRawValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

struct RegNamedValue {
    std::string name;
    RegRawValue value;
};

enum class RegAccess { Read, Write };

class IRegistry {
public:
    virtual ~IRegistry() = default;

    /// True when the key exists and can be opened with the given access.
    virtual bool openable(RegRoot root, const std::string &subKey, RegAccess access) = 0;
    /// Creates the key with every missing parent. Returns true when it already existed.
    /// Throws Error when the key cannot be created.
    virtual bool createKey(RegRoot root, const std::string &subKey) = 0;
    /// The value's stored data, or nothing when the key cannot be opened or has no such value.
    virtual std::optional<RegRawValue> queryValue(RegRoot root, const std::string &subKey,
                                                  const std::string &name) = 0;
    /// Stores a value in an existing key. Returns false (and stores nothing) when the key cannot
    /// be opened for writing or the store fails.
    virtual bool setValue(RegRoot root, const std::string &subKey, const std::string &name,
                          const RegRawValue &value) = 0;
    /// Deletes a value; false when the key or value is not there.
    virtual bool deleteValue(RegRoot root, const std::string &subKey, const std::string &name) = 0;
    /// Every value of the key in the registry's enumeration order; nothing when the key cannot be
    /// opened. An empty sub-key names the root itself.
    virtual std::optional<std::vector<RegNamedValue>> enumValues(RegRoot root,
                                                                 const std::string &subKey) = 0;
};

} // namespace zeph
