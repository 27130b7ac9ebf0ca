#pragma once
// What zephrane-cli's options ask of the core, in the core's own terms: the subscriber
// search's criterion and the reset request. The program names no control of the wizard's pages.

#include "CliOptions.h"
#include "reset/ResetRequest.h"
#include "select/SubscriberSelection.h"

#include <optional>
#include <ostream>
#include <vector>

namespace zeph {
class SubscriberSearch;
} // namespace zeph

namespace zeph::cli {

/// The criterion of a selection other than --where. A switch, mail server or class of service
/// the server does not offer (as the search's lists hold them) is said on `err`, and nothing is
/// returned.
std::optional<SubscriberSelection> criterionOf(const Selection &selection,
                                               const SubscriberSearch &lists, std::ostream &err);

/// The reset the options ask for, of the subscribers selected.
ResetRequest resetRequestOf(const Options &options, std::vector<SelectedSubscriber> subscribers);

} // namespace zeph::cli
