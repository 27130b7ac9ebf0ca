#pragma once
// Re-creating a removed subscriber from the template and giving it back its old identity:
// the creation, the alternate extension restore, the ten reference fix-ups and the directory
// re-synchronisation.

#include <string>
#include <vector>

namespace zeph {

class ResetRun;

/// sp_CreateSubscriber from the chosen template; the returned row gets the old subscriber and
/// call handler ids. Sets the run's new ids (empty when the creation gave no single row).
void ReCreateSubscriber(ResetRun &run);

/// Gives the re-created subscriber (found by the run's new id) its old ids, as the creation
/// does with the row it returns; for finishing an interrupted reset.
void WriteBackIdentity(ResetRun &run);

/// Adds the saved alternate extensions back; does nothing when none were saved. With `only`,
/// just the extensions of those numbers (1 = the first saved) are added, keeping their names.
void RestoreAlternateExtensions(ResetRun &run, const std::vector<int> *only = nullptr);

/// Moves every row that refers to the new ids to the old ones, in ten fixed steps.
void FixUpReferences(ResetRun &run);
/// The tables whose rows those steps change, each once, in the steps' order.
std::vector<std::string> fixUpTables();

/// sp_ModifySubscriber for the old id, and the wait for the directory.
void ResynchronizeSubscriber(ResetRun &run);

} // namespace zeph
