// A mail store of folders: mailstore/<HomeServer>/<SMTPAddress>/{Inbox,Sent Items,Deleted Items}/
// holding one file per message. No mailstore folder: the mail library is missing. No mailbox
// folder: the address does not resolve.
#include "SimParts.h"

#include "platform/Error.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace zeph::sim {

namespace {

constexpr long kMapiNotFound = -2147221233;    // MAPI_E_NOT_FOUND
constexpr long kMapiLogonFailed = -2147221231; // MAPI_E_LOGON_FAILED
constexpr long kMapiNoAccess = -2147024891;    // E_ACCESSDENIED

const char *folderName(int number) {
    switch (number) {
    case kFolderInbox:
        return "Inbox";
    case kFolderSentItems:
        return "Sent Items";
    case kFolderDeletedItems:
        return "Deleted Items";
    default:
        return nullptr;
    }
}

// A mailbox address or server name must be one plain path segment.
bool plainSegment(const std::string &s) {
    return !s.empty() && s != "." && s != ".." && s.find('/') == std::string::npos &&
           s.find('\\') == std::string::npos && s.find('\0') == std::string::npos;
}

class SimMailFolder : public IMailFolder {
public:
    explicit SimMailFolder(fs::path folder)
        : m_folder(std::move(folder)) {}

    long messageCount() override { return static_cast<long>(messages().size()); }

    std::optional<std::string> firstMessage() override {
        auto all = messages();
        if (all.empty())
            return std::nullopt;
        return all.front();
    }

    void deleteMessage(const std::string &id) override {
        std::error_code ec;
        if (!plainSegment(id) || !fs::remove(m_folder / id, ec) || ec)
            throw Error(kMapiNotFound, "The message could not be deleted: " + id);
    }

private:
    std::vector<std::string> messages() {
        std::error_code ec;
        std::vector<std::string> names;
        for (fs::directory_iterator it(m_folder, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->is_regular_file())
                names.push_back(it->path().filename().string());
        }
        if (ec)
            throw Error(kMapiNoAccess, "The folder could not be read: " + m_folder.string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path m_folder;
};

class SimMailSession : public IMailSession {
public:
    explicit SimMailSession(fs::path store)
        : m_store(std::move(store)) {}

    void logon(const std::string &, const std::string &, bool,
               const std::string &profileInfo) override {
        auto lf = profileInfo.find('\n');
        if (lf == std::string::npos)
            throw Error(kMapiLogonFailed, "The information store could not be opened.");
        std::string server = profileInfo.substr(0, lf);
        std::string address = profileInfo.substr(lf + 1);
        if (!plainSegment(server))
            throw Error(kMapiLogonFailed, "The information store could not be opened.");
        if (!fs::is_directory(m_store / server))
            throw Error(kMapiLogonFailed,
                        "The Microsoft Exchange Server computer is not available.");
        m_loggedOn = true;
        if (plainSegment(address) && fs::is_directory(m_store / server / address)) {
            m_mailbox = m_store / server / address;
            m_user = address.substr(0, address.find('@'));
        }
    }

    std::string currentUser() override {
        if (!m_loggedOn)
            throw Error(kMapiLogonFailed, "The session is not logged on.");
        return m_user.empty() ? std::string("Unknown") : m_user;
    }

    std::unique_ptr<IMailFolder> defaultFolder(int number) override {
        const char *name = folderName(number);
        if (!m_loggedOn || m_mailbox.empty() || !name)
            throw Error(kMapiNotFound, "The default folder could not be opened.");
        fs::path folder = m_mailbox / name;
        if (!fs::is_directory(folder))
            throw Error(kMapiNotFound, std::string("The folder does not exist: ") + name);
        return std::make_unique<SimMailFolder>(folder);
    }

private:
    fs::path m_store;
    fs::path m_mailbox;
    std::string m_user;
    bool m_loggedOn = false;
};

class SimMailStore : public IMailStore {
public:
    SimMailStore(std::string folder, bool libraryPresent)
        : m_folder(std::move(folder))
        , m_libraryPresent(libraryPresent) {}

    std::unique_ptr<IMailSession> createSession() override {
        if (!m_libraryPresent || !fs::is_directory(m_folder))
            return nullptr;
        return std::make_unique<SimMailSession>(m_folder);
    }

private:
    std::string m_folder;
    bool m_libraryPresent;
};

} // namespace

std::unique_ptr<IMailStore> makeMailStore(const std::string &mailstoreFolder,
                                          const SimSettings &settings) {
    return std::make_unique<SimMailStore>(mailstoreFolder,
                                          settings.get("mail-library") != "missing");
}

} // namespace zeph::sim
