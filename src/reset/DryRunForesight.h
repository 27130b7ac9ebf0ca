#pragma once
// What a dry run foresees of the server's answers: the removal and the creation the server's
// procedures would refuse, so that the dry run writes the error lines the real run would
// write, marked as foreseen, and counts them as the real run would.

#include <string>

namespace zeph {

class ResetRun;

/// What the dry run foresaw for the current subscriber.
struct Foresight {
    /// sp_DeleteSubscriber would refuse (an undeletable subscriber is not removed by force).
    bool removalRefused = false;
    /// sp_CreateSubscriber would refuse; the later steps then find no new subscriber.
    bool creationRefused = false;
    /// The template's own ids, which the created rows are copied from.
    std::string subscriberTemplateId;
    std::string callHandlerTemplateId;
};

/// In a dry run, after the line of the removal: the lines of a removal the server would refuse.
void ForeseeRemoval(ResetRun &run);
/// In a dry run, in place of the creation: its line, or the lines of a refused creation.
void ForeseeCreation(ResetRun &run, const std::string &templateAlias);
/// In a dry run, the lines of the directory synchronisation of a subscriber that would not be
/// there (removed, not created again).
void ForeseeResynchronization(ResetRun &run);
/// How many rows of `table` the template at hand owns; -1 when they could not be counted.
long TemplateRows(ResetRun &run, const std::string &table, bool callHandlerTemplate);

} // namespace zeph
