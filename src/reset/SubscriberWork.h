#pragma once
// The reset of one subscriber: the template it is created again from, and what it learns as it
// goes: its values captured before anything is changed, which row of the cached subscriber
// table is its own, the ids it is created again with, and what a dry run foresees of the
// server's answers. The run makes a fresh one for each subscriber (ResetRun::beginSubscriber),
// so that nothing of one subscriber reaches the next; the steps change it only through its
// methods.

#include "DryRunForesight.h"

#include <string>
#include <utility>
#include <vector>

namespace zeph {

/// The values of the subscriber being reset, as captured before anything is changed.
struct SubscriberSnapshot {
    std::string ObjectID;
    std::string Alias;
    std::string CallHandlerObjectID;
    std::string FirstName;
    std::string LastName;
    std::string DisplayName;
    std::string DTMFAccessID;
    std::string DirectoryID;
    /// The saved alternate extensions. The area grows with what the server holds, so no
    /// extension the administrator asked to keep is dropped.
    std::vector<std::string> AlternateExtensions;
    /// How many of AlternateExtensions were saved; the restore reads no further.
    int AlternateExtensionCount = 0;
};

/// The ids the re-created subscriber came back with; empty when the creation failed.
struct IdentityMap {
    std::string newSubscriberId;
    std::string newCallHandlerId;
};

class SubscriberWork {
public:
    SubscriberWork() = default;
    /// The work of a subscriber to be created again from the template `templateAlias`.
    explicit SubscriberWork(std::string templateAlias)
        : m_templateAlias(std::move(templateAlias)) {}

    /// The template the subscriber is created again from, by alias: the one the reset asked
    /// for, or in a recovery the one its journal entry names.
    const std::string &templateAlias() const { return m_templateAlias; }

    /// The subscriber as captured (in a recovery, as its journal entry holds it).
    const SubscriberSnapshot &snapshot() const { return m_snapshot; }
    void capture(SubscriberSnapshot snapshot) { m_snapshot = std::move(snapshot); }
    /// The alternate extensions to add back after the creation, in their order; none when
    /// they are not kept.
    void saveAlternateExtensions(std::vector<std::string> extensions) {
        m_snapshot.AlternateExtensionCount = static_cast<int>(extensions.size());
        m_snapshot.AlternateExtensions = std::move(extensions);
    }

    /// The key (SubscriberObjectID) of the subscriber's row in the cached subscriber table, once
    /// its look-up found it; empty before. The steps that read or write that row find it by
    /// this key (ResetRun::subscriberRow), never by where the shared table happens to stand.
    const std::string &rowKey() const { return m_rowKey; }
    void foundRow(std::string subscriberObjectId) { m_rowKey = std::move(subscriberObjectId); }

    /// The ids the subscriber was created again with; empty until it is.
    const IdentityMap &newIds() const { return m_ids; }
    /// True once the subscriber was created again (its new ids are known).
    bool createdAgain() const { return !m_ids.newSubscriberId.empty(); }
    /// The subscriber was created again with these ids (found on the server, in a recovery).
    void createdWith(IdentityMap ids) { m_ids = std::move(ids); }
    /// The creation is in the run's open transaction: the journal is told of its ids once that
    /// is committed (creationRecorded), or never, when it is taken back (clearCreation).
    void recordCreationOnCommit() { m_creationUnrecorded = true; }
    /// True while the creation's ids wait for their commit to be recorded.
    bool creationUnrecorded() const { return m_creationUnrecorded; }
    void creationRecorded() { m_creationUnrecorded = false; }
    /// The subscriber is not (or no longer) created again: no new ids, none to record.
    void clearCreation() {
        m_ids = IdentityMap{};
        m_creationUnrecorded = false;
    }

    /// What the dry run foresees of the server's answers for this subscriber.
    const Foresight &foresight() const { return m_foresight; }
    void foreseeRemovalRefused(bool refused) { m_foresight.removalRefused = refused; }
    void foreseeCreationRefused(bool refused) { m_foresight.creationRefused = refused; }
    /// The template's own ids (empty when it was not found).
    void foreseeTemplate(std::string subscriberTemplateId, std::string callHandlerTemplateId) {
        m_foresight.subscriberTemplateId = std::move(subscriberTemplateId);
        m_foresight.callHandlerTemplateId = std::move(callHandlerTemplateId);
    }

private:
    std::string m_templateAlias;
    SubscriberSnapshot m_snapshot;
    std::string m_rowKey;
    IdentityMap m_ids;
    bool m_creationUnrecorded = false;
    Foresight m_foresight;
};

} // namespace zeph
