#pragma once
// The read-back that closes a subscriber's reset: the journal entry is marked finished only
// when the server shows what the reset promises.

#include "platform/Result.h"

namespace zeph {

class ResetRun;

/// Reads the subscriber back and checks what the reset promises: the subscriber and its global
/// row carry the old object and call handler ids, the old call handler is its primary one, the
/// primary extension is there, the alias, names and directory id are as captured (the alias
/// and names exactly, blanks included), and (when the run knows the new ids) no row still
/// refers to them. Fails with what does not hold, or that it could not be read.
Status verifyReset(ResetRun &run);

} // namespace zeph
