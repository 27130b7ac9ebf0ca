#include "OwnStrings.h"

#include <algorithm>
#include <array>

namespace zeph::i18n {

namespace {

// Texts are the program's own, character for character (the double blanks included): the
// CSV import composes its summary from 308, 309 and 310, and uses 300 as a header name.
constexpr std::array kStrings = {
    OwnString{18, "<< Previous"},
    OwnString{24, "Add Subscribers To Grid"},
    OwnString{30, "Alias"},
    OwnString{69, "Browse..."},
    OwnString{79, "COS"},
    OwnString{98, "Clear Grid"},
    OwnString{110, "Display Name"},
    OwnString{130, "Error! CSV file is not a valid format.  See the help for details on format "
                   "requirements."},
    OwnString{131, "Error! Could not open CSV input file."},
    OwnString{132, "Exit"},
    OwnString{134, "Extension"},
    OwnString{139, "First Name"},
    OwnString{153, "Help"},
    OwnString{155, "Home Server"},
    OwnString{168, "Invalid extension range. First extension must be lower than the second."},
    OwnString{169, "Invalid input for extension range.  Please input numbers only."},
    OwnString{170, "Last Name"},
    OwnString{191, "Next >>"},
    OwnString{230, "Select All"},
    OwnString{231, "Select CSV file for subscriber selection"},
    OwnString{237, "Select Subscribers"},
    OwnString{274, "To:"},
    OwnString{289, "Users in Grid"},
    OwnString{296, "You must first select subscribers to delete"},
    OwnString{299, "deSelect All"},
    OwnString{300, "extension"},
    OwnString{308, "Import complete.  "},
    OwnString{309, " lines read in from text file, "},
    OwnString{310, " users added to grid."},
    OwnString{329, "You must select a location first"},
    OwnString{331, "You must select a switch first"},
    OwnString{332, "You must select a mailstore first"},
    OwnString{333, "You must first select a COS"},
    OwnString{500, "Select All Shown"},
    OwnString{501, "deSelect All Shown"},
    OwnString{502, "Filter the rows shown (Ctrl+F)"},
    OwnString{503, "%1 of %2 ticked"},
    OwnString{504, "%1 shown"},
    OwnString{505, "What will be reset"},
    OwnString{506, "Chosen by: %1"},
    OwnString{507, "Subscribers: %1"},
    OwnString{508, "Template: %1"},
    OwnString{509, "and %1 more"},
    OwnString{510, "Stop"},
    OwnString{511, "Results"},
    OwnString{512, "Open Log"},
    OwnString{513, "Open Failed Records"},
    OwnString{514, "Open Folder"},
    OwnString{515, "Stopping after the subscriber under way..."},
    OwnString{516, "Unfinished resets"},
    OwnString{517, "These resets of this server did not finish: until they are recovered, the "
                   "subscribers listed may be missing from the server or not fully reset. Recover "
                   "finishes each one as listed, with a run log; Not Now leaves them for later."},
    OwnString{518, "Recover"},
    OwnString{519, "Not Now"},
    OwnString{520, "Journals of other servers (left as they are):"},
    OwnString{521, "Stop the reset after the subscriber under way?  That subscriber is finished "
                   "first; the subscribers after it are not reset."},
    OwnString{522, "A reset is under way.  Stop it after the subscriber under way and close "
                   "Zephrane once it has stopped?"},
    OwnString{523, "Subscribers reset: %1"},
    OwnString{524, "Subscribers that would be reset: %1"},
    OwnString{525, "%1 reset, %2 reset with errors, %3 skipped, %4 not attempted"},
    OwnString{526, "Errors: %1"},
    OwnString{527, "Log: %1"},
    OwnString{528, "Failed records: %1 (%2 subscriber)"},
    OwnString{529, "Failed records: %1 (%2 subscribers)"},
    OwnString{530, "Failed records: not written (%1)"},
    OwnString{531, "Accept Changed"},
    OwnString{
        532,
        "Stop the recovery after the subscriber under way?  That subscriber is finished first; the "
        "others stay in the journal for a later recovery."},
    OwnString{533, "1 row"},
    OwnString{534, "%1 rows"},
};

static_assert(std::is_sorted(kStrings.begin(), kStrings.end(),
                             [](const OwnString &a, const OwnString &b) { return a.id < b.id; }));

} // namespace

std::span<const OwnString> ownStrings() {
    return kStrings;
}

std::optional<std::string_view> ownString(std::uint32_t id) {
    auto it = std::lower_bound(kStrings.begin(), kStrings.end(), id,
                               [](const OwnString &s, std::uint32_t key) { return s.id < key; });
    if (it == kStrings.end() || it->id != id)
        return std::nullopt;
    return it->text;
}

} // namespace zeph::i18n
