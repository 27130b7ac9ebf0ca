#pragma once
// The program's only door to the registry: six small operations, each of which opens a key,
// does one thing and closes it again. Typed registry data becomes the program's values here.

#include "platform/Registry.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace zeph {

inline constexpr RegRoot HKEY_LOCAL_MACHINE = RegRoot::LocalMachine;

/// The kinds of value the program reads and writes, numbered as the registry's type codes.
enum RegValueKind : int { REG_SZ = 1, REG_BINARY = 3, REG_DWORD = 4 };

/// A value handed in or out: nothing, text (kind 1), bytes (kind 3) or a number (kind 4).
using RegVariant =
    std::variant<std::monostate, std::string, std::vector<std::uint8_t>, std::int32_t>;

/// The value as text: "" for nothing, a number in decimal, bytes as they are.
std::string regText(const RegVariant &value);
/// The value as a number: 0 for nothing, for bytes and for text that is not a whole number.
std::int32_t regNumber(const RegVariant &value);
/// The value as bytes: text as its bytes, a number as its 4 bytes (lowest first).
std::vector<std::uint8_t> regBytes(const RegVariant &value);

/// The two-row table of EnumValues: column i holds names[i] and data[i].
struct RegValueTable {
    std::vector<std::string> names;
    std::vector<RegVariant> data;

    std::size_t size() const { return names.size(); }
    bool empty() const { return names.empty(); }
};

class RegistryAPI {
public:
    /// Buffer sizes of the reads: a text value (with its terminating zero), a binary value,
    /// and the name and data of one enumerated value.
    static constexpr std::size_t kTextBuffer = 1024;
    static constexpr std::size_t kBinaryBuffer = 4096;
    static constexpr std::size_t kEnumNameBuffer = 260;
    static constexpr std::size_t kEnumDataBuffer = 4096;

    explicit RegistryAPI(IRegistry &registry)
        : m_registry(registry) {}

    /// True when the key can be opened for reading.
    bool KeyExists(RegRoot root, const std::string &subKey);
    /// Creates the key with every missing parent; true when it already existed.
    /// Throws Error(1001, "Unable to create the registry key") when it cannot be created.
    bool CreateKey(RegRoot root, const std::string &subKey);
    /// The value's data read as `kind` (1, 3 or 4), or `defaultValue` when the key cannot be
    /// opened, the value is missing or does not fit its buffer.
    /// Throws Error(1001, "Unsupported value type") for any other kind.
    RegVariant QueryValue(RegRoot root, const std::string &subKey, const std::string &name,
                          int kind, const RegVariant &defaultValue = {});
    /// Stores a value in an existing key; does nothing when the key is missing or the kind is
    /// not 1, 3 or 4. Failures are not reported.
    void SetValue(RegRoot root, const std::string &subKey, const std::string &name, int kind,
                  const RegVariant &value);
    /// Deletes a value; nothing is reported in any case.
    void DeleteValue(RegRoot root, const std::string &subKey, const std::string &name);
    /// Every value of the key in the registry's order, or the empty table. An empty sub-key
    /// lists the root itself.
    RegValueTable EnumValues(RegRoot root, const std::string &subKey);

    /// How many times the last EnumValues grew its table by 100 columns (diagnostics).
    int lastEnumGrowths() const { return m_lastEnumGrowths; }

private:
    IRegistry &m_registry;
    int m_lastEnumGrowths = 0;
};

} // namespace zeph
