// Mailboxes through the "MAPI.Session" automation library (CDO 1.21), bound late as the system
// binds it: no type library is needed to build, and a machine without the library simply has
// no mail store.
#include "MapiMailStore.h"

#include "ComDispatch.h"

#include "platform/Error.h"

namespace zeph::win32 {

namespace {

class MapiFolder : public IMailFolder {
public:
    explicit MapiFolder(Dispatch folder)
        : m_folder(std::move(folder)) {}

    long messageCount() override { return messages().get(L"Count").toLong(); }

    // Each call reads the folder's messages afresh, so a deleted message is gone from it.
    std::optional<std::string> firstMessage() override {
        m_first = Dispatch::objectOf(messages().call(L"GetFirst"));
        if (!m_first)
            return std::nullopt;
        m_firstId = m_first.get(L"ID").toText();
        return m_firstId;
    }

    void deleteMessage(const std::string &id) override {
        if (!m_first || id != m_firstId)
            throw Error(errnum::kInternal, "The message " + id + " is no longer in the folder");
        m_first.call(L"Delete");
        m_first = Dispatch();
    }

private:
    Dispatch messages() {
        Dispatch collection = Dispatch::objectOf(m_folder.get(L"Messages"));
        if (!collection)
            throw Error(errnum::kInternal, "The folder has no messages collection");
        return collection;
    }

    Dispatch m_folder;
    Dispatch m_first;
    std::string m_firstId;
};

class MapiSession : public IMailSession {
public:
    MapiSession(std::shared_ptr<ComApartment> apartment, Dispatch session)
        : m_apartment(std::move(apartment))
        , m_session(std::move(session)) {}

    ~MapiSession() override {
        if (m_loggedOn) {
            try {
                m_session.call(L"Logoff");
            } catch (const Error &) {
                // The session ends with the object either way.
            }
        }
    }

    void logon(const std::string &profileName, const std::string &password, bool showDialog,
               const std::string &profileInfo) override {
        // ProfileName, ProfilePassword, ShowDialog, NewSession, ParentWindow, NoMail, ProfileInfo.
        std::vector<Variant> arguments;
        arguments.emplace_back(profileName);
        arguments.emplace_back(password);
        arguments.emplace_back(showDialog);
        arguments.push_back(Variant::missing());
        arguments.push_back(Variant::missing());
        arguments.push_back(Variant::missing());
        arguments.emplace_back(profileInfo);
        m_session.call(L"Logon", std::move(arguments));
        m_loggedOn = true;
    }

    std::string currentUser() override {
        Variant user = m_session.get(L"CurrentUser");
        Dispatch entry = Dispatch::objectOf(std::move(user));
        return entry ? entry.get(L"Name").toText() : user.toText();
    }

    std::unique_ptr<IMailFolder> defaultFolder(int number) override {
        std::vector<Variant> arguments;
        Variant folderNumber;
        folderNumber.get()->vt = VT_I4;
        folderNumber.get()->lVal = number;
        arguments.push_back(std::move(folderNumber));
        Dispatch folder =
            Dispatch::objectOf(m_session.call(L"GetDefaultFolder", std::move(arguments)));
        if (!folder)
            throw Error(errnum::kInternal,
                        "The folder " + std::to_string(number) + " was not found");
        return std::make_unique<MapiFolder>(std::move(folder));
    }

private:
    std::shared_ptr<ComApartment> m_apartment;
    Dispatch m_session;
    bool m_loggedOn = false;
};

class MapiMailStore : public IMailStore {
public:
    explicit MapiMailStore(std::wstring programId)
        : m_programId(std::move(programId)) {}

    std::unique_ptr<IMailSession> createSession() override {
        auto apartment = std::make_shared<ComApartment>();
        Dispatch session = Dispatch::create(m_programId);
        if (!session)
            return nullptr;
        return std::make_unique<MapiSession>(std::move(apartment), std::move(session));
    }

private:
    std::wstring m_programId;
};

} // namespace

std::unique_ptr<IMailStore> makeMapiMailStore(const std::wstring &programId) {
    return std::make_unique<MapiMailStore>(programId);
}

} // namespace zeph::win32
