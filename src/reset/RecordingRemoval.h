#pragma once
// Removing a subscriber's recordings from disk: its voice name and the greetings of its
// primary call handler. The StreamPath columns that named them are cleared either way.

#include <string>

namespace zeph {

class ResetRun;

/// Where a StreamPath's file is.
enum class RecordingPlace { UnderStreamRoot, AtPath, Missing };

/// A StreamPath is first taken as relative to StreamFilesRoot (joined without a separator),
/// then as a full path by itself.
RecordingPlace locateRecording(ResetRun &run, const std::string &streamPath);

/// The voice name of the subscriber whose row its look-up found: the file is deleted (also a
/// read-only one) and the row's StreamPath saved as NULL.
void RemoveVoiceNameFile(ResetRun &run);

/// Every greeting (MessagingRule row) of the subscriber's old primary call handler: recorded
/// files deleted, StreamPath saved as NULL.
void RemoveGreetingFiles(ResetRun &run);

} // namespace zeph
