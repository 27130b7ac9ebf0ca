#pragma once
// The mail store as a MAPI session sees it: log on to one mailbox, reach its default folders,
// delete messages one at a time.

#include <memory>
#include <optional>
#include <string>

namespace zeph {

/// Default folder numbers.
inline constexpr int kFolderInbox = 1;
inline constexpr int kFolderSentItems = 3;
inline constexpr int kFolderDeletedItems = 4;

class IMailFolder {
public:
    virtual ~IMailFolder() = default;
    /// Number of messages in the folder. Throws Error when it cannot be read.
    virtual long messageCount() = 0;
    /// An id of the first message of a freshly fetched collection, or nothing when empty.
    virtual std::optional<std::string> firstMessage() = 0;
    /// Deletes the message. Throws Error on failure.
    virtual void deleteMessage(const std::string &id) = 0;
};

class IMailSession {
public:
    virtual ~IMailSession() = default;
    /// Logs on without a dialog; profileInfo is HomeServer + "\n" + SMTPAddress.
    /// Throws Error when the logon fails.
    virtual void logon(const std::string &profileName, const std::string &password, bool showDialog,
                       const std::string &profileInfo) = 0;
    /// The mailbox owner's name; "Unknown" when the mailbox did not resolve.
    virtual std::string currentUser() = 0;
    /// Throws Error when the folder cannot be opened.
    virtual std::unique_ptr<IMailFolder> defaultFolder(int number) = 0;
};

class IMailStore {
public:
    virtual ~IMailStore() = default;
    /// A new session object, or nullptr when the mail library is missing.
    virtual std::unique_ptr<IMailSession> createSession() = 0;
};

} // namespace zeph
