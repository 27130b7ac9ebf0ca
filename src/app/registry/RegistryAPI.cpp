#include "RegistryAPI.h"

#include "platform/Error.h"

#include <charconv>
#include <limits>

namespace zeph {

namespace {

// The enumeration table starts with columns 0 to 100 and grows by 100 when full; the loop
// never asks for more than this many values.
constexpr std::size_t kEnumFirstColumns = 101;
constexpr std::size_t kEnumGrowth = 100;
constexpr std::size_t kEnumLimit = 1000000;

// Up to four bytes, lowest first, as a signed number; missing high bytes count as 0.
std::int32_t numberFromBytes(const std::vector<std::uint8_t> &data) {
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < 4 && i < data.size(); ++i)
        n |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    return static_cast<std::int32_t>(n);
}

std::vector<std::uint8_t> bytesFromNumber(std::int32_t value) {
    const auto n = static_cast<std::uint32_t>(value);
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
}

// Text data as the registry returns it, less its last byte (the terminating zero).
std::string textLessTerminator(const std::vector<std::uint8_t> &data) {
    if (data.empty())
        return {};
    return std::string(data.begin(), data.end() - 1);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Runs one registry call; a failure the backend raises counts as the call failing, because
// the registry operations report nothing but their two own errors.
template <class Call, class Fallback>
auto quietly(Call &&call, Fallback fallback) -> decltype(call()) {
    try {
        return call();
    } catch (const Error &) {
        return fallback;
    }
}

} // namespace

std::string regText(const RegVariant &value) {
    if (const auto *text = std::get_if<std::string>(&value))
        return *text;
    if (const auto *number = std::get_if<std::int32_t>(&value))
        return std::to_string(*number);
    if (const auto *bytes = std::get_if<std::vector<std::uint8_t>>(&value))
        return std::string(bytes->begin(), bytes->end());
    return {};
}

std::int32_t regNumber(const RegVariant &value) {
    if (const auto *number = std::get_if<std::int32_t>(&value))
        return *number;
    const auto *text = std::get_if<std::string>(&value);
    if (!text)
        return 0;
    std::size_t b = 0;
    std::size_t e = text->size();
    while (b < e && isBlank((*text)[b]))
        ++b;
    while (e > b && isBlank((*text)[e - 1]))
        --e;
    if (b < e && (*text)[b] == '+')
        ++b;
    std::int32_t result = 0;
    const char *first = text->data() + b;
    const char *last = text->data() + e;
    auto [end, ec] = std::from_chars(first, last, result);
    if (ec != std::errc() || end != last || first == last)
        return 0;
    return result;
}

std::vector<std::uint8_t> regBytes(const RegVariant &value) {
    if (const auto *bytes = std::get_if<std::vector<std::uint8_t>>(&value))
        return *bytes;
    if (const auto *text = std::get_if<std::string>(&value))
        return std::vector<std::uint8_t>(text->begin(), text->end());
    if (const auto *number = std::get_if<std::int32_t>(&value))
        return bytesFromNumber(*number);
    return {};
}

bool RegistryAPI::KeyExists(RegRoot root, const std::string &subKey) {
    return quietly([&] { return m_registry.openable(root, subKey, RegAccess::Read); }, false);
}

bool RegistryAPI::CreateKey(RegRoot root, const std::string &subKey) {
    try {
        return m_registry.createKey(root, subKey);
    } catch (const Error &) {
        throw Error(errnum::kRegistry, "Unable to create the registry key");
    }
}

RegVariant RegistryAPI::QueryValue(RegRoot root, const std::string &subKey, const std::string &name,
                                   int kind, const RegVariant &defaultValue) {
    if (!KeyExists(root, subKey))
        return defaultValue;
    // The kind is checked only once the key is open, as the registry calls are made.
    if (kind != REG_SZ && kind != REG_BINARY && kind != REG_DWORD)
        throw Error(errnum::kRegistry, "Unsupported value type");

    const std::optional<RegRawValue> raw = quietly(
        [&] { return m_registry.queryValue(root, subKey, name); }, std::optional<RegRawValue>());
    if (!raw)
        return defaultValue;
    // The stored type is not compared: the data is read as the kind the caller names. Data
    // that does not fit the kind's buffer makes the query fail.
    const std::vector<std::uint8_t> &data = raw->data;
    switch (kind) {
    case REG_SZ:
        if (data.size() > kTextBuffer)
            return defaultValue;
        return textLessTerminator(data);
    case REG_BINARY:
        if (data.size() > kBinaryBuffer)
            return defaultValue;
        return data;
    default:
        if (data.size() > 4)
            return defaultValue;
        return numberFromBytes(data);
    }
}

void RegistryAPI::SetValue(RegRoot root, const std::string &subKey, const std::string &name,
                           int kind, const RegVariant &value) {
    RegRawValue raw;
    switch (kind) {
    case REG_SZ: {
        raw.type = REG_SZ_;
        const std::string text = regText(value);
        raw.data.assign(text.begin(), text.end());
        raw.data.push_back(0);
        break;
    }
    case REG_BINARY:
        raw.type = REG_BINARY_;
        raw.data = regBytes(value);
        break;
    case REG_DWORD:
        raw.type = REG_DWORD_;
        raw.data = bytesFromNumber(regNumber(value));
        break;
    default:
        return;
    }
    // The backend stores nothing when the key cannot be opened for writing.
    quietly([&] { return m_registry.setValue(root, subKey, name, raw); }, false);
}

void RegistryAPI::DeleteValue(RegRoot root, const std::string &subKey, const std::string &name) {
    quietly([&] { return m_registry.deleteValue(root, subKey, name); }, false);
}

RegValueTable RegistryAPI::EnumValues(RegRoot root, const std::string &subKey) {
    m_lastEnumGrowths = 0;
    const auto values = quietly([&] { return m_registry.enumValues(root, subKey); },
                                std::optional<std::vector<RegNamedValue>>());
    if (!values)
        return {};

    RegValueTable table;
    table.names.resize(kEnumFirstColumns);
    table.data.resize(kEnumFirstColumns);
    std::size_t i = 0;
    for (; i < kEnumLimit; ++i) {
        if (i >= table.names.size()) {
            table.names.resize(table.names.size() + kEnumGrowth);
            table.data.resize(table.data.size() + kEnumGrowth);
            ++m_lastEnumGrowths;
        }
        if (i >= values->size())
            break;
        const RegNamedValue &value = (*values)[i];
        // A name must leave room for its terminating zero; a name or data that does not fit
        // its buffer ends the enumeration, as the registry then reports "more data".
        if (value.name.size() >= kEnumNameBuffer || value.value.data.size() > kEnumDataBuffer)
            break;
        table.names[i] = value.name;
        switch (value.value.type) {
        case REG_SZ_:
            table.data[i] = textLessTerminator(value.value.data);
            break;
        case REG_DWORD_:
            table.data[i] = numberFromBytes(value.value.data);
            break;
        default:
            table.data[i] = value.value.data;
            break;
        }
    }
    table.names.resize(i);
    table.data.resize(i);
    return table;
}

} // namespace zeph
