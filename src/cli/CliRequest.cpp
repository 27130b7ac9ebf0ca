#include "CliRequest.h"

#include "select/SubscriberSearch.h"

#include <algorithm>

namespace zeph::cli {

namespace {

bool holds(const std::vector<std::string> &list, const std::string &text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

std::string joined(const std::vector<std::string> &list) {
    std::string text;
    for (const auto &entry : list)
        text += (text.empty() ? "" : ", ") + entry;
    return text.empty() ? "(none)" : text;
}

} // namespace

std::optional<SubscriberSelection> criterionOf(const Selection &selection,
                                               const SubscriberSearch &lists, std::ostream &err) {
    SubscriberSelection chosen;
    chosen.criterion = static_cast<SubscriberCriterion>(selection.code);
    switch (chosen.criterion) {
    case kCriterionExtensionRange:
        chosen.extensionLow = selection.low;
        chosen.extensionHigh = selection.high;
        break;
    case kCriterionSwitch:
        if (selection.switchNumber > lists.switchCount()) {
            err << "zephrane-cli: this server has only " << lists.switchCount()
                << " telephone-system integration(s)\n";
            return std::nullopt;
        }
        chosen.switchNumber = selection.switchNumber;
        break;
    case kCriterionMailServer:
        if (!holds(lists.mailServers(), selection.value)) {
            err << "zephrane-cli: no subscriber is homed on a mail server named '"
                << selection.value << "'; known: " << joined(lists.mailServers()) << "\n";
            return std::nullopt;
        }
        chosen.mailServer = selection.value;
        break;
    case kCriterionCsvFile:
        chosen.csvPath = selection.value;
        break;
    case kCriterionClassOfService:
        if (!holds(lists.classOfServiceAliases(), selection.value)) {
            err << "zephrane-cli: no class of service has the alias '" << selection.value
                << "'; known: " << joined(lists.classOfServiceAliases()) << "\n";
            return std::nullopt;
        }
        chosen.classOfService = selection.value;
        break;
    case kCriterionAllSubscribers:
        break;
    case kCriterionNone:
        err << "zephrane-cli: the selection page has no criterion " << selection.code << "\n";
        return std::nullopt;
    }
    return chosen;
}

ResetRequest resetRequestOf(const Options &options, std::vector<SelectedSubscriber> subscribers) {
    ResetRequest request;
    request.templateAlias = options.templateAlias.value_or("");
    request.preserveAlternateExtensions = options.preserveAlternateExtensions;
    request.subscribers = std::move(subscribers);
    request.skipListSync = options.skipDlSync;
    request.dryRun = options.dryRun;
    return request;
}

} // namespace zeph::cli
