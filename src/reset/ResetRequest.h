#pragma once
// A reset as asked for: the template, the subscribers and the run's options. The wizard's pages
// make it from their controls and the terminal program from its options; the reset reads
// nothing else.

#include "select/SubscriberSelection.h"

#include <string>
#include <vector>

namespace zeph {

struct ResetRequest {
    /// The template whose settings the subscribers are created again with, by alias.
    std::string templateAlias;
    /// The template's name as the template list shows it, for the question and the review; ""
    /// names the template by its alias alone.
    std::string templateName;
    /// The subscribers to reset, in the order they are taken.
    std::vector<SelectedSubscriber> subscribers;
    /// What the subscribers were selected by, in the operator's words, for the review; "" when
    /// it is not known.
    std::string selectionSource;
    /// The subscribers' alternate extensions are saved and given back after their re-creation.
    bool preserveAlternateExtensions = false;
    /// The run ends without the synchronisation of all distribution lists.
    bool skipListSync = false;
    /// Everything is read and checked, nothing is changed, no question is asked.
    bool dryRun = false;

    bool operator==(const ResetRequest &) const = default;
};

/// The template as the review and the question name it: "Display Name (alias)", or the alias
/// alone when the request has no name for it.
std::string templateText(const ResetRequest &request);

} // namespace zeph
