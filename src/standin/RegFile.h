#pragma once
// The "Windows Registry Editor Version 5.00" text format, as the stand-in host
// keeps its registry: a header line, [HKEY_LOCAL_MACHINE\...] key sections and
// "name"=data value lines.
//
// Values are kept as the registry keeps them: a type code and stored bytes,
// text types (1, 2 and 7) as UTF-16LE. The ANSI view of the registry calls
// (UTF-8 text) is made by `ansiData` / `storedData`, so a value nobody touches
// is written back byte for byte.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace zeph::sim::regfile {

inline constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kMachineRoot = "HKEY_LOCAL_MACHINE";
/// The longest key name (one path component) the registry accepts, in
/// characters.
inline constexpr std::size_t kMaxKeyNameLength = 255;

struct Value {
    std::string name; // "" is the key's default value, written @
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;    // stored bytes
    std::vector<std::string> comments; // comment lines written just before it
};

/// A key's section. `values` is read freely and changed through setValue and
/// removeValue, which keep the look-up by name (a hash of the case-folded name)
/// in step, so a key of many values is read and searched in linear time.
struct Key {
    /// Below HKEY_LOCAL_MACHINE, components joined by single backslashes, in the
    /// case it was first written; "" is the root itself.
    std::string path;
    std::vector<Value> values;
    std::vector<std::string> comments; // comment lines written just before the key line

    Value *findValue(std::string_view name);
    /// Replaces the value with that name (keeping its place and first spelling)
    /// or appends it.
    void setValue(std::string_view name, std::uint32_t type, std::vector<std::uint8_t> data);
    /// False when there is no such value.
    bool removeValue(std::string_view name);

private:
    void indexValues();
    std::unordered_map<std::string, std::size_t> m_valueAt; // folded name -> place in values
};

/// The file's keys in file order. A key exists when it has a section or when a
/// key below it has one, as creating a key creates its parents. `keys` is read
/// freely and given new sections only through section(), which keeps the
/// look-ups by path in step: finding a key or telling whether one exists costs
/// the length of its path, whatever the number of keys.
struct Document {
    std::vector<Key> keys;
    std::vector<std::string> trailingComments;

    /// The key's own section, or null. `path` must be normalised.
    Key *findKey(std::string_view path);
    bool keyExists(std::string_view path) const;
    /// The key's section, made when the key has none: placed before the first
    /// section below it, or at the end.
    Key &section(std::string_view path);

private:
    void indexSections();
    void noteExisting(std::string_view path);
    std::unordered_map<std::string, std::size_t> m_sectionAt; // folded path -> place in keys
    std::unordered_set<std::string> m_existing; // folded paths of the sections and their parents
};

struct ParseError {
    int line = 0;
    std::string message;
};

/// Reads a file's bytes: UTF-16LE with a byte-order mark, or UTF-8 with or
/// without one. Returns false with the line and reason when the text is not a
/// registry file this store keeps.
bool parse(std::string_view bytes, Document &doc, ParseError &error);
/// The file's text: UTF-8 without byte-order mark, lines ended by CR LF.
std::string write(const Document &doc);
/// A name or text value as the file writes it: in quotes, quotes and backslashes escaped.
std::string quoted(std::string_view text);

/// A sub-key as callers write it, with empty components dropped ("A\\B\" is
/// "A\B").
std::string normaliseKeyPath(std::string_view subKey);
/// Why a normalised key path cannot be created, or "" when it can.
std::string keyPathProblem(std::string_view path);
/// Why a value name cannot be stored in the file, or "" when it can.
std::string valueNameProblem(std::string_view name);

/// Names compare as the registry compares them: without letter case.
bool namesEqual(std::string_view a, std::string_view b);
/// True when `path` is `parent` itself or lies below it (both normalised).
bool isWithin(std::string_view path, std::string_view parent);

bool isTextType(std::uint32_t type);
/// Stored bytes as the ANSI calls hand them out (text types converted to
/// UTF-8).
std::vector<std::uint8_t> ansiData(const Value &value);
/// Bytes handed in through the ANSI calls as they are stored (text types made
/// UTF-16LE).
std::vector<std::uint8_t> storedData(std::uint32_t type, const std::vector<std::uint8_t> &ansi);

/// UTF-8 to UTF-16LE; a byte that is not valid UTF-8 becomes U+FFFD.
std::vector<std::uint8_t> utf8ToUtf16le(std::string_view text);
/// UTF-16LE to UTF-8; an unpaired surrogate becomes U+FFFD and an odd last byte
/// is dropped.
std::string utf16leToUtf8(const std::uint8_t *data, std::size_t size);

} // namespace zeph::sim::regfile
