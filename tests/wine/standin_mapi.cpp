// A stand-in for the mail library's "MAPI.Session" automation object, for the tests of the
// machine path: a local COM server (an .exe that the COM run time starts) over a stand-in
// host's mail store, the folder mailstore/<server>/<SMTP address>/{Inbox,Sent Items,Deleted
// Items}/ holding one file per message.
//
//   standin_mapi register MAILSTORE [TRACE]  registers this program as "MAPI.Session"
//                                            (LocalServer32) over the mail store MAILSTORE;
//                                            each call that changes something is written to
//                                            the file TRACE, one line each
//   standin_mapi unregister                  removes the registration
//   standin_mapi MAILSTORE [TRACE] -Embedding  what the COM run time starts
//
// The objects are the library's, as far as a mailbox clean-up uses them:
//   Session       Logon(ProfileName, ProfilePassword, ShowDialog, NewSession, ParentWindow,
//                 NoMail, ProfileInfo), Logoff(), CurrentUser, GetDefaultFolder(FolderType),
//                 Inbox, Outbox
//   AddressEntry  Name, Address
//   Folder        Name, Messages
//   Messages      Count, GetFirst(), GetNext(), GetLast(), GetPrevious(), Item(Index)
//   Message       ID, Subject, Delete()
// A logon resolves ProfileInfo, "server" LF "SMTP address", against the folders; a logon that
// asks for a dialog is refused as cancelled, since a server process shows none. Failures are
// automation exceptions carrying the library's numbers. Each session is a process of its own
// (single use), which ends when the client has released the last of its objects, or after two
// minutes without a call from a client that went away. Its first trace line is "Session", its
// last "Ended".
#include <windows.h>

#include <ole2.h>
#include <oleauto.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// {15B8D0D5-5B26-41C1-ADB8-1D7AA6F4382F}
const CLSID kClassId = {
    0x15b8d0d5, 0x5b26, 0x41c1, {0xad, 0xb8, 0x1d, 0x7a, 0xa6, 0xf4, 0x38, 0x2f}};
const wchar_t kClassIdText[] = L"{15B8D0D5-5B26-41C1-ADB8-1D7AA6F4382F}";
const wchar_t kProgramId[] = L"MAPI.Session";

constexpr HRESULT kNotFound = static_cast<HRESULT>(0x8004010F);    // MAPI_E_NOT_FOUND
constexpr HRESULT kLogonFailed = static_cast<HRESULT>(0x80040111); // MAPI_E_LOGON_FAILED
constexpr HRESULT kUserCancel = static_cast<HRESULT>(0x80040113);  // MAPI_E_USER_CANCEL
constexpr HRESULT kNoAccess = E_ACCESSDENIED;

constexpr ULONGLONG kIdleMilliseconds = 120000;

std::wstring g_store;
std::wstring g_trace;
long g_objects = 0;
bool g_served = false;
ULONGLONG g_lastCall = 0;

std::string utf8(const std::wstring &text) {
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// One line of the trace; control characters written as escapes, so a value is one line.
void trace(const std::wstring &line) {
    if (g_trace.empty())
        return;
    std::wstring escaped;
    for (wchar_t c : line) {
        if (c == L'\n')
            escaped += L"\\n";
        else if (c == L'\r')
            escaped += L"\\r";
        else
            escaped += c;
    }
    std::string bytes = utf8(escaped) + "\n";
    HANDLE file = CreateFileW(g_trace.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// The automation error the client sees: its number and text, as the library raises them.
HRESULT raise(EXCEPINFO *exception, HRESULT number, const std::wstring &text) {
    if (exception) {
        *exception = EXCEPINFO{};
        exception->scode = number;
        exception->bstrSource = SysAllocString(L"Collaboration Data Objects");
        exception->bstrDescription = SysAllocString(text.c_str());
    }
    return DISP_E_EXCEPTION;
}

// A mailbox address, server or message name must be one plain path segment.
bool plainSegment(const std::wstring &s) {
    return !s.empty() && s != L"." && s != L".." && s.find_first_of(L"/\\:") == std::wstring::npos;
}

// The names in a folder, of sub-folders or of files, sorted; false when it cannot be read.
bool listFolder(const std::wstring &folder, bool folders, std::vector<std::wstring> &names) {
    names.clear();
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const std::wstring name = found.cFileName;
        if (isFolder == folders && name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return true;
}

// Whether the folder holds a sub-folder of exactly this name, letter case included: Windows
// would find "Inbox" for "INBOX", a mail store resolves an address as it is written.
bool hasFolder(const std::wstring &folder, const std::wstring &name) {
    std::vector<std::wstring> names;
    return plainSegment(name) && listFolder(folder, true, names) &&
           std::find(names.begin(), names.end(), name) != names.end();
}

/// The positional arguments of a call, first first.
class Arguments {
public:
    explicit Arguments(const DISPPARAMS *parameters)
        : m_parameters(parameters) {}

    unsigned count() const { return m_parameters ? m_parameters->cArgs : 0; }

    bool given(unsigned index) const {
        const VARIANT *v = at(index);
        return v && !(v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND);
    }

    // The argument as text; false when it is missing or has no text form.
    bool text(unsigned index, std::wstring &out) const {
        VARIANT converted;
        VariantInit(&converted);
        if (!given(index) || FAILED(convert(index, VT_BSTR, converted)))
            return false;
        out.assign(converted.bstrVal ? converted.bstrVal : L"",
                   converted.bstrVal ? SysStringLen(converted.bstrVal) : 0);
        VariantClear(&converted);
        return true;
    }

    bool number(unsigned index, long &out) const {
        VARIANT converted;
        VariantInit(&converted);
        if (!given(index) || FAILED(convert(index, VT_I4, converted)))
            return false;
        out = converted.lVal;
        return true;
    }

    // How the argument reads in the trace.
    std::wstring shown(unsigned index) const {
        std::wstring value;
        if (!given(index))
            return L"(missing)";
        if (!text(index, value))
            return L"(not text)";
        return L"[" + value + L"]";
    }

private:
    const VARIANT *at(unsigned index) const {
        if (index >= count())
            return nullptr;
        // Automation passes the arguments last first.
        return &m_parameters->rgvarg[m_parameters->cArgs - 1 - index];
    }

    HRESULT convert(unsigned index, VARTYPE type, VARIANT &out) const {
        VARIANT direct;
        VariantInit(&direct);
        HRESULT result = VariantCopyInd(&direct, const_cast<VARIANT *>(at(index)));
        if (SUCCEEDED(result))
            result = VariantChangeType(&out, &direct, VARIANT_ALPHABOOL, type);
        VariantClear(&direct);
        return result;
    }

    const DISPPARAMS *m_parameters;
};

struct Member {
    const wchar_t *name;
    DISPID id;
};

/// An automation object: members found by name without regard to case, called through Invoke.
class Automation : public IDispatch {
public:
    Automation() { ++g_objects; }
    Automation(const Automation &) = delete;
    Automation &operator=(const Automation &) = delete;
    virtual ~Automation() {
        if (--g_objects == 0 && g_served)
            PostQuitMessage(0);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **object) override {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IDispatch)) {
            *object = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_references); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --m_references;
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **info) override {
        if (info)
            *info = nullptr;
        return DISP_E_BADINDEX;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID,
                                            DISPID *ids) override {
        if (!names || !ids || count == 0)
            return E_INVALIDARG;
        HRESULT result = S_OK;
        for (UINT i = 0; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        for (const Member &member : members()) {
            if (_wcsicmp(member.name, names[0]) == 0)
                ids[0] = member.id;
        }
        // Named arguments are not taken: every member is called with its arguments in order.
        if (ids[0] == DISPID_UNKNOWN || count > 1)
            result = DISP_E_UNKNOWNNAME;
        return result;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD kind, DISPPARAMS *parameters,
                                     VARIANT *result, EXCEPINFO *exception, UINT *) override {
        g_lastCall = GetTickCount64();
        if (parameters && parameters->cNamedArgs > 0)
            return DISP_E_NONAMEDARGS;
        if ((kind & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0)
            return DISP_E_MEMBERNOTFOUND;
        VARIANT answer;
        VariantInit(&answer);
        HRESULT outcome = call(id, Arguments(parameters), answer, exception);
        if (SUCCEEDED(outcome) && result)
            *result = answer;
        else
            VariantClear(&answer);
        return outcome;
    }

protected:
    virtual const std::vector<Member> &members() const = 0;
    virtual HRESULT call(DISPID id, const Arguments &arguments, VARIANT &answer,
                         EXCEPINFO *exception) = 0;

    static void answerText(VARIANT &answer, const std::wstring &text) {
        answer.vt = VT_BSTR;
        answer.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    static void answerNumber(VARIANT &answer, long number) {
        answer.vt = VT_I4;
        answer.lVal = number;
    }
    // Takes over the object's one reference; nullptr answers Nothing.
    static void answerObject(VARIANT &answer, Automation *object) {
        answer.vt = VT_DISPATCH;
        answer.pdispVal = object;
    }

private:
    long m_references = 1;
};

class Message : public Automation {
public:
    Message(std::wstring folder, std::wstring id)
        : m_folder(std::move(folder))
        , m_id(std::move(id)) {}

protected:
    const std::vector<Member> &members() const override {
        static const std::vector<Member> all = {{L"ID", 1}, {L"Subject", 2}, {L"Delete", 3}};
        return all;
    }

    HRESULT call(DISPID id, const Arguments &, VARIANT &answer, EXCEPINFO *exception) override {
        switch (id) {
        case 1:
            answerText(answer, m_id);
            return S_OK;
        case 2:
            answerText(answer, subject());
            return S_OK;
        case 3:
            if (!DeleteFileW((m_folder + L"\\" + m_id).c_str()))
                return raise(exception, kNotFound, L"The message could not be deleted: " + m_id);
            trace(L"Delete " + m_folder.substr(g_store.size() + 1) + L"\\" + m_id);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    // The text of the message's "Subject:" line, empty when it has none.
    std::wstring subject() const {
        HANDLE file = CreateFileW((m_folder + L"\\" + m_id).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return {};
        char buffer[4096];
        DWORD got = 0;
        ReadFile(file, buffer, sizeof buffer, &got, nullptr);
        CloseHandle(file);
        std::string head(buffer, got);
        const std::string key = "Subject: ";
        std::size_t at = head.find(key);
        if (at == std::string::npos)
            return {};
        std::size_t end = head.find_first_of("\r\n", at);
        std::string line = head.substr(
            at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
        std::wstring out(line.size(), L'\0');
        int size = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                       out.data(), static_cast<int>(out.size()));
        out.resize(static_cast<std::size_t>(std::max(size, 0)));
        return out;
    }

    std::wstring m_folder;
    std::wstring m_id;
};

/// A folder's messages as they were when the collection was fetched.
class Messages : public Automation {
public:
    Messages(std::wstring folder, std::vector<std::wstring> names)
        : m_folder(std::move(folder))
        , m_names(std::move(names)) {}

protected:
    const std::vector<Member> &members() const override {
        static const std::vector<Member> all = {{L"Count", 1},       {L"GetFirst", 2},
                                                {L"GetNext", 3},     {L"GetLast", 4},
                                                {L"GetPrevious", 5}, {L"Item", 6}};
        return all;
    }

    HRESULT call(DISPID id, const Arguments &arguments, VARIANT &answer,
                 EXCEPINFO *exception) override {
        const long count = static_cast<long>(m_names.size());
        switch (id) {
        case 1:
            answerNumber(answer, count);
            return S_OK;
        case 2:
            m_position = 0;
            break;
        case 3:
            ++m_position;
            break;
        case 4:
            m_position = count - 1;
            break;
        case 5:
            --m_position;
            break;
        case DISPID_VALUE:
        case 6: {
            long index = 0;
            if (!arguments.number(0, index) || index < 1 || index > count)
                return raise(exception, kNotFound, L"The message was not found.");
            m_position = index - 1;
            break;
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
        // Past either end: Nothing, as the library answers.
        if (m_position < 0 || m_position >= count) {
            m_position = std::clamp(m_position, -1L, count);
            answerObject(answer, nullptr);
            return S_OK;
        }
        answerObject(answer, new Message(m_folder, m_names[static_cast<std::size_t>(m_position)]));
        return S_OK;
    }

private:
    std::wstring m_folder;
    std::vector<std::wstring> m_names;
    long m_position = -1;
};

class Folder : public Automation {
public:
    Folder(std::wstring path, std::wstring name)
        : m_path(std::move(path))
        , m_name(std::move(name)) {}

protected:
    const std::vector<Member> &members() const override {
        static const std::vector<Member> all = {{L"Name", 1}, {L"Messages", 2}};
        return all;
    }

    HRESULT call(DISPID id, const Arguments &, VARIANT &answer, EXCEPINFO *exception) override {
        switch (id) {
        case 1:
            answerText(answer, m_name);
            return S_OK;
        case 2: {
            std::vector<std::wstring> names;
            if (!listFolder(m_path, false, names))
                return raise(exception, kNoAccess, L"The folder could not be read: " + m_path);
            answerObject(answer, new Messages(m_path, std::move(names)));
            return S_OK;
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    std::wstring m_path;
    std::wstring m_name;
};

class AddressEntry : public Automation {
public:
    AddressEntry(std::wstring name, std::wstring address)
        : m_name(std::move(name))
        , m_address(std::move(address)) {}

protected:
    const std::vector<Member> &members() const override {
        static const std::vector<Member> all = {{L"Name", 1}, {L"Address", 2}};
        return all;
    }

    HRESULT call(DISPID id, const Arguments &, VARIANT &answer, EXCEPINFO *) override {
        if (id != 1 && id != 2)
            return DISP_E_MEMBERNOTFOUND;
        answerText(answer, id == 1 ? m_name : m_address);
        return S_OK;
    }

private:
    std::wstring m_name;
    std::wstring m_address;
};

const wchar_t *defaultFolderName(long number) {
    switch (number) {
    case 1:
        return L"Inbox";
    case 2:
        return L"Outbox";
    case 3:
        return L"Sent Items";
    case 4:
        return L"Deleted Items";
    default:
        return nullptr;
    }
}

class Session : public Automation {
protected:
    const std::vector<Member> &members() const override {
        static const std::vector<Member> all = {{L"Logon", 1},       {L"Logoff", 2},
                                                {L"CurrentUser", 3}, {L"GetDefaultFolder", 4},
                                                {L"Inbox", 5},       {L"Outbox", 6}};
        return all;
    }

    HRESULT call(DISPID id, const Arguments &arguments, VARIANT &answer,
                 EXCEPINFO *exception) override {
        switch (id) {
        case 1:
            return logon(arguments, exception);
        case 2:
            trace(L"Logoff");
            m_loggedOn = false;
            m_mailbox.clear();
            m_user.clear();
            return S_OK;
        case 3:
            if (!m_loggedOn)
                return raise(exception, kLogonFailed, L"The session is not logged on.");
            answerObject(answer, new AddressEntry(m_user.empty() ? L"Unknown" : m_user, m_address));
            return S_OK;
        case 4: {
            long number = 0;
            if (!arguments.number(0, number))
                return raise(exception, kNotFound, L"The default folder could not be opened.");
            return defaultFolder(number, answer, exception);
        }
        case 5:
            return defaultFolder(1, answer, exception);
        case 6:
            return defaultFolder(2, answer, exception);
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    HRESULT logon(const Arguments &arguments, EXCEPINFO *exception) {
        static const wchar_t *const names[] = {L"ProfileName", L"ProfilePassword", L"ShowDialog",
                                               L"NewSession",  L"ParentWindow",    L"NoMail",
                                               L"ProfileInfo"};
        std::wstring line = L"Logon";
        for (unsigned i = 0; i < 7; ++i)
            line += std::wstring(L" ") + names[i] + L"=" + arguments.shown(i);
        trace(line);
        // The library shows its logon dialog unless told not to; here no one could answer it.
        long showDialog = 1;
        if (!arguments.given(2) || (arguments.number(2, showDialog) && showDialog != 0))
            return raise(exception, kUserCancel, L"The logon dialog was cancelled.");
        std::wstring info;
        arguments.text(6, info);
        const std::size_t lf = info.find(L'\n');
        if (lf == std::wstring::npos)
            return raise(exception, kLogonFailed, L"The information store could not be opened.");
        const std::wstring server = info.substr(0, lf);
        const std::wstring address = info.substr(lf + 1);
        if (!plainSegment(server))
            return raise(exception, kLogonFailed, L"The information store could not be opened.");
        if (!hasFolder(g_store, server))
            return raise(exception, kLogonFailed,
                         L"The Microsoft Exchange Server computer is not available.");
        m_loggedOn = true;
        m_mailbox.clear();
        m_user.clear();
        m_address.clear();
        if (hasFolder(g_store + L"\\" + server, address)) {
            m_mailbox = g_store + L"\\" + server + L"\\" + address;
            m_user = address.substr(0, address.find(L'@'));
            m_address = address;
        }
        return S_OK;
    }

    HRESULT defaultFolder(long number, VARIANT &answer, EXCEPINFO *exception) {
        const wchar_t *name = defaultFolderName(number);
        if (!m_loggedOn || m_mailbox.empty() || !name)
            return raise(exception, kNotFound, L"The default folder could not be opened.");
        if (!hasFolder(m_mailbox, name))
            return raise(exception, kNotFound, std::wstring(L"The folder does not exist: ") + name);
        answerObject(answer, new Folder(m_mailbox + L"\\" + name, name));
        return S_OK;
    }

    bool m_loggedOn = false;
    std::wstring m_mailbox;
    std::wstring m_user;
    std::wstring m_address;
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **object) override {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IClassFactory)) {
            *object = static_cast<IClassFactory *>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The one factory lives as long as the process.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID id, void **object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        g_lastCall = GetTickCount64();
        g_served = true;
        trace(L"Session");
        auto *session = new Session;
        HRESULT result = session->QueryInterface(id, object);
        session->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

bool setValue(const std::wstring &key, const wchar_t *name, const std::wstring &value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result =
        RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

int registerServer(const std::wstring &store, const std::wstring &traceFile) {
    wchar_t self[MAX_PATH];
    if (GetModuleFileNameW(nullptr, self, MAX_PATH) == 0)
        return 2;
    std::wstring command = L"\"" + std::wstring(self) + L"\" \"" + store + L"\"";
    if (!traceFile.empty())
        command += L" \"" + traceFile + L"\"";
    const std::wstring classKey = std::wstring(L"Software\\Classes\\CLSID\\") + kClassIdText;
    const std::wstring programKey = std::wstring(L"Software\\Classes\\") + kProgramId;
    const bool done = setValue(classKey, nullptr, L"Stand-in mail library session") &&
                      setValue(classKey + L"\\LocalServer32", nullptr, command) &&
                      setValue(classKey + L"\\ProgID", nullptr, kProgramId) &&
                      setValue(programKey, nullptr, L"Stand-in mail library session") &&
                      setValue(programKey + L"\\CLSID", nullptr, kClassIdText);
    if (!done) {
        fwprintf(stderr, L"cannot register %ls\n", kProgramId);
        return 2;
    }
    return 0;
}

int unregisterServer() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                   (std::wstring(L"Software\\Classes\\CLSID\\") + kClassIdText).c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Classes\\") + kProgramId).c_str());
    return 0;
}

int serve() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    static Factory factory;
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(kClassId, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE,
                                     &cookie))) {
        CoUninitialize();
        return 2;
    }
    g_lastCall = GetTickCount64();
    SetTimer(nullptr, 0, 5000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && GetTickCount64() - g_lastCall > kIdleMilliseconds)
            break;
        DispatchMessageW(&message);
    }
    CoRevokeClassObject(cookie);
    CoUninitialize();
    if (g_served)
        trace(L"Ended");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    std::vector<std::wstring> words;
    bool embedded = false;
    for (int i = 1; i < argc; ++i) {
        if (_wcsicmp(argv[i], L"-Embedding") == 0 || _wcsicmp(argv[i], L"/Embedding") == 0)
            embedded = true;
        else
            words.emplace_back(argv[i]);
    }
    if (!words.empty() && words[0] == L"register" && (words.size() == 2 || words.size() == 3))
        return registerServer(words[1], words.size() == 3 ? words[2] : L"");
    if (words.size() == 1 && words[0] == L"unregister")
        return unregisterServer();
    if (embedded && (words.size() == 1 || words.size() == 2)) {
        g_store = words[0];
        while (!g_store.empty() && (g_store.back() == L'\\' || g_store.back() == L'/'))
            g_store.pop_back();
        if (words.size() == 2)
            g_trace = words[1];
        return serve();
    }
    fwprintf(stderr, L"usage: standin_mapi register MAILSTORE [TRACE] | unregister\n");
    return 2;
}
