// The machine's own registry. Keys are read and written in the view a 32-bit program has (on
// 64-bit Windows, SOFTWARE is then WOW6432Node), where the server's own 32-bit programs keep
// their keys. Text values cross as UTF-8 with their terminating zero, as the core expects;
// the registry holds them as UTF-16.
#include "WideText.h"
#include "Win32Machine.h"

#include "platform/Error.h"

#include <windows.h>

#include "OwnedHandle.h"

namespace zeph::win32 {

namespace {

constexpr REGSAM kView = KEY_WOW64_32KEY;

HKEY rootKey(RegRoot root) {
    switch (root) {
    case RegRoot::ClassesRoot:
        return HKEY_CLASSES_ROOT;
    case RegRoot::CurrentUser:
        return HKEY_CURRENT_USER;
    case RegRoot::Users:
        return HKEY_USERS;
    case RegRoot::LocalMachine:
        break;
    }
    return HKEY_LOCAL_MACHINE;
}

bool isText(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

HKEY openKey(RegRoot root, const std::string &subKey, REGSAM access) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(rootKey(root), widen(subKey).c_str(), 0, access | kView, &key) !=
        ERROR_SUCCESS)
        return nullptr;
    return key;
}

// An open key, closed when it goes; null when it could not be opened.
class Key : public OwnedHandle<HKEY, &::RegCloseKey> {
public:
    Key(RegRoot root, const std::string &subKey, REGSAM access)
        : OwnedHandle(openKey(root, subKey, access)) {}
};

// The registry's UTF-16 data of a text value as UTF-8 with one terminating zero (each string of
// a multi-string keeps its own zero).
std::vector<std::uint8_t> textToUtf8(const std::vector<std::uint8_t> &data) {
    std::wstring wide(data.size() / 2, L'\0');
    for (std::size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
    while (!wide.empty() && wide.back() == L'\0')
        wide.pop_back();
    std::string text = narrow(wide);
    std::vector<std::uint8_t> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::vector<std::uint8_t> utf8ToText(const std::vector<std::uint8_t> &data) {
    std::string text(data.begin(), data.end());
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    const std::wstring wide = widen(text);
    std::vector<std::uint8_t> out;
    out.reserve(wide.size() * 2 + 2);
    for (wchar_t c : wide) {
        out.push_back(static_cast<std::uint8_t>(c & 0xff));
        out.push_back(static_cast<std::uint8_t>((c >> 8) & 0xff));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

RegRawValue fromSystem(DWORD type, std::vector<std::uint8_t> data) {
    return {type, isText(type) ? textToUtf8(data) : std::move(data)};
}

class Win32Registry : public IRegistry {
public:
    bool openable(RegRoot root, const std::string &subKey, RegAccess access) override {
        Key key(root, subKey, access == RegAccess::Write ? KEY_ALL_ACCESS : KEY_READ);
        return key.get() != nullptr;
    }

    bool createKey(RegRoot root, const std::string &subKey) override {
        HKEY key = nullptr;
        DWORD disposition = 0;
        const LSTATUS status =
            ::RegCreateKeyExW(rootKey(root), widen(subKey).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | kView, nullptr, &key, &disposition);
        if (status != ERROR_SUCCESS)
            throw Error(errnum::kRegistry, "cannot create the registry key " + subKey + ": " +
                                               systemMessage(static_cast<DWORD>(status)));
        ::RegCloseKey(key);
        return disposition == REG_OPENED_EXISTING_KEY;
    }

    std::optional<RegRawValue> queryValue(RegRoot root, const std::string &subKey,
                                          const std::string &name) override {
        Key key(root, subKey, KEY_READ);
        if (!key.get())
            return std::nullopt;
        const std::wstring wideName = widen(name);
        DWORD type = 0;
        DWORD size = 0;
        for (int attempt = 0; attempt < 4; ++attempt) {
            if (::RegQueryValueExW(key.get(), wideName.c_str(), nullptr, &type, nullptr, &size) !=
                ERROR_SUCCESS)
                return std::nullopt;
            std::vector<std::uint8_t> data(size);
            const LSTATUS status =
                ::RegQueryValueExW(key.get(), wideName.c_str(), nullptr, &type, data.data(), &size);
            if (status == ERROR_MORE_DATA)
                continue; // it grew between the two calls
            if (status != ERROR_SUCCESS)
                return std::nullopt;
            data.resize(size);
            return fromSystem(type, std::move(data));
        }
        return std::nullopt;
    }

    bool setValue(RegRoot root, const std::string &subKey, const std::string &name,
                  const RegRawValue &value) override {
        Key key(root, subKey, KEY_SET_VALUE);
        if (!key.get())
            return false;
        const std::vector<std::uint8_t> data =
            isText(value.type) ? utf8ToText(value.data) : value.data;
        return ::RegSetValueExW(key.get(), widen(name).c_str(), 0, value.type, data.data(),
                                static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
    }

    bool deleteValue(RegRoot root, const std::string &subKey, const std::string &name) override {
        Key key(root, subKey, KEY_SET_VALUE);
        return key.get() && ::RegDeleteValueW(key.get(), widen(name).c_str()) == ERROR_SUCCESS;
    }

    std::optional<std::vector<RegNamedValue>> enumValues(RegRoot root,
                                                         const std::string &subKey) override {
        Key key(root, subKey, KEY_READ);
        if (!key.get())
            return std::nullopt;
        DWORD count = 0;
        DWORD longestName = 0;
        DWORD longestData = 0;
        if (::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &count, &longestName, &longestData, nullptr,
                               nullptr) != ERROR_SUCCESS)
            return std::nullopt;
        std::vector<RegNamedValue> values;
        for (DWORD i = 0; i < count; ++i) {
            std::wstring name(longestName + 1, L'\0');
            std::vector<std::uint8_t> data(longestData);
            DWORD nameSize = longestName + 1;
            DWORD dataSize = longestData;
            DWORD type = 0;
            if (::RegEnumValueW(key.get(), i, name.data(), &nameSize, nullptr, &type, data.data(),
                                &dataSize) != ERROR_SUCCESS)
                break;
            name.resize(nameSize);
            data.resize(dataSize);
            values.push_back({narrow(name), fromSystem(type, std::move(data))});
        }
        return values;
    }
};

} // namespace

std::unique_ptr<IRegistry> makeRegistry() {
    return std::make_unique<Win32Registry>();
}

} // namespace zeph::win32
