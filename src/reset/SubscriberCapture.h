#pragma once
// Capturing what must survive a subscriber's reset, the two checks that skip a subscriber,
// the alternate extension save, the mailbox step and the removal from the database.

#include <string>

namespace zeph {

class ResetRun;

/// Finds the subscriber's row in rsSubscribers, makes it the work object's own (the later steps
/// read it through ResetRun::subscriberRow) and fills the run's snapshot. False, after its skip
/// line, when there is no row or no directory id.
bool LookUpAndCapture(ResetRun &run, const std::string &alias, const std::string &objectId);

/// False, after the conflict lines, when two or more objects of the dialing domain use the
/// subscriber's primary extension, or after an error line when the check could not be made.
bool CheckExtensionConflict(ResetRun &run);

/// Saves the subscriber's alternate extensions into the snapshot when `preserve` is set; the
/// count is set to 0 in any case.
void SaveAlternateExtensions(ResetRun &run, bool preserve);

/// Empties the mailbox of the subscriber whose row its look-up found, when it has an SMTP
/// address.
void CleanMailbox(ResetRun &run);

/// Removes the subscriber through sp_DeleteSubscriber and waits for the directory.
void RemoveFromDatabase(ResetRun &run);

} // namespace zeph
