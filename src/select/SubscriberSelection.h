#pragma once
// What the selection page searches for: one criterion and its value. The page makes it from
// its controls; a caller without the page's window (the terminal program) names it itself.
// The chosen subscribers are handed on as plain rows.

#include <string>

namespace zeph {

/// Criterion codes, carried as item data by the criterion list. 3, 8 and 9 are not used; 0 is
/// no criterion chosen.
enum SubscriberCriterion : int {
    kCriterionNone = 0,
    kCriterionAllSubscribers = 1,
    kCriterionExtensionRange = 2,
    kCriterionSwitch = 4,
    kCriterionMailServer = 5,
    kCriterionCsvFile = 6,
    kCriterionClassOfService = 7,
};

/// A criterion and its value. Only the value of the criterion counts; the others stay empty.
/// Values are as the operator gave them: the search checks them and refuses what it cannot use,
/// in the page's words.
struct SubscriberSelection {
    SubscriberCriterion criterion = kCriterionNone;
    /// kCriterionExtensionRange: the range's ends as typed.
    std::string extensionLow;
    std::string extensionHigh;
    /// kCriterionSwitch: 1 for the first telephone-system integration, 2 for the second; 0 for
    /// none.
    int switchNumber = 0;
    /// kCriterionMailServer: the server's name.
    std::string mailServer;
    /// kCriterionCsvFile: the subscriber list's path.
    std::string csvPath;
    /// kCriterionClassOfService: the class of service's alias.
    std::string classOfService;

    bool operator==(const SubscriberSelection &) const = default;
};

/// One subscriber chosen for a reset: a ticked row of the selection grid.
struct SelectedSubscriber {
    std::string alias;
    std::string displayName;
    std::string extension;
    std::string objectId;

    bool operator==(const SelectedSubscriber &) const = default;
};

} // namespace zeph
