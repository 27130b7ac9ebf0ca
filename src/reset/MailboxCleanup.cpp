#include "MailboxCleanup.h"

#include "ResetRun.h"
#include "platform/AsciiText.h"

#include <memory>
#include <optional>

namespace zeph {

namespace {

struct MailFolderStep {
    int number;
    const char *word;        // the folder in the count line
    const char *deletedLine; // written once the folder is emptied
};

constexpr MailFolderStep kFolders[] = {
    {kFolderInbox, "inbox", "        Inbox messages deleted"},
    {kFolderSentItems, "sent items folder", "        Sent items messages deleted"},
    {kFolderDeletedItems, "deleted items folder", "        deleted items folder messages deleted"},
};

const char *const kRightsAdvice =
    ".  Make sure you are logged into the system with an account that has send as/receive as "
    "and full mailstore rights on all mailstores that home subscribers.";

bool isUnknownUser(const std::string &name) {
    return equalsIgnoreCase(name, "unknown");
}

class MailboxCleaner {
public:
    explicit MailboxCleaner(Logging &log)
        : m_log(log)
        , m_report([this](const std::string &text) { m_log.WriteLogLine(text); }) {}

    template <class Step> bool attempt(Step &&step) {
        return trap(kMailboxWhere, m_report, std::forward<Step>(step));
    }

    void emptyFolder(IMailSession &session, const MailFolderStep &step, bool dryRun) {
        std::unique_ptr<IMailFolder> folder;
        long count = 0;
        if (!attempt([&] { folder = session.defaultFolder(step.number); }) || !folder)
            return;
        if (!attempt([&] { count = folder->messageCount(); }))
            return;
        if (dryRun) {
            m_log.WriteLogLine("        User has " + std::to_string(count) + " messages in their " +
                               step.word);
            m_log.WriteLogLine("    " + dryRunLine("delete " + std::to_string(count) +
                                                   " messages from the " + step.word));
            return;
        }
        m_log.WriteLogLine("        User has " + std::to_string(count) + " messages in their " +
                           step.word + " - deleting");
        std::optional<std::string> message;
        attempt([&] { message = folder->firstMessage(); });
        while (message) {
            if (!attempt([&] { folder->deleteMessage(*message); }))
                break;
            std::optional<std::string> next;
            attempt([&] { next = folder->firstMessage(); });
            // A store that reports a deletion but keeps the message would hold the run here.
            if (next == message)
                break;
            message = std::move(next);
        }
        m_log.WriteLogLine(step.deletedLine);
    }

private:
    Logging &m_log;
    std::function<void(const std::string &)> m_report;
};

} // namespace

bool RemoveSubscriberMessages(IMailStore *mail, Logging &log, const std::string &homeServer,
                              const std::string &smtpAddress, bool dryRun) {
    MailboxCleaner cleaner(log);
    log.WriteLogLine("    Removing messages for user with SMTP=" + smtpAddress);

    std::unique_ptr<IMailSession> session;
    if (mail)
        cleaner.attempt([&] { session = mail->createSession(); });
    if (!session) {
        log.WriteLogLine("(error) could not log into mailbox with SMTP address=" + smtpAddress +
                         " and Exchange server name=" + homeServer + kRightsAdvice);
        return false;
    }
    bool loggedOn =
        cleaner.attempt([&] { session->logon("", "", false, homeServer + "\n" + smtpAddress); });
    // A mailbox whose owner cannot even be asked for is no more resolved than an unknown one.
    std::string user;
    bool resolved =
        loggedOn && cleaner.attempt([&] { user = session->currentUser(); }) && !isUnknownUser(user);
    if (!resolved) {
        log.WriteLogLine("(error) would not resolve the mailbox an SMTP address=" + smtpAddress +
                         " and Exchange server name=" + homeServer + kRightsAdvice);
        return false;
    }

    for (const MailFolderStep &step : kFolders)
        cleaner.emptyFolder(*session, step, dryRun);
    if (!dryRun)
        log.WriteLogLine("    user mailbox cleaned");
    return true;
}

} // namespace zeph
