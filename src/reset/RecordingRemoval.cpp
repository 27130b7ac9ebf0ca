#include "RecordingRemoval.h"

#include "ResetRun.h"
#include "ScopedQuery.h"

namespace zeph {

namespace {

const char *const kNotFoundLine = "    wav file not found on system";

// The server's recordings live below its "Root Path" folder: the stream folder and the
// folders beside it that hold imported names. StreamFilesRoot is that folder followed by
// "Stream Files\".
std::string recordingsRoot(const ResetRun &run) {
    const std::string stream = "Stream Files\\";
    const std::string &root = run.streamFilesRoot();
    if (root.size() < stream.size() ||
        root.compare(root.size() - stream.size(), stream.size(), stream) != 0)
        return {};
    return root.substr(0, root.size() - stream.size());
}

// Deletes the file, read-only or not, when it lies inside the recordings folder once "..",
// drive prefixes and links are resolved: a StreamPath written to lead elsewhere never deletes
// another file. A file that cannot be deleted is reported by the run's rule; its StreamPath is
// cleared all the same, so the server no longer offers it. False when the wall refused it.
bool deleteRecording(ResetRun &run, const std::string &path) {
    const std::string root = recordingsRoot(run);
    IFileSystem &files = *run.host.files;
    if (!run.read<bool>([&] { return !root.empty() && files.liesInside(path, root); })) {
        const std::string refused = "(error) the recording " + path +
                                    " lies outside the recordings folder " + root +
                                    " and is not deleted";
        run.line(run.dryRun() ? run.foreseen(refused) : refused);
        return false;
    }
    if (run.dryRun()) {
        run.line(dryRunLine("delete " + path));
        return true;
    }
    run.attempt([&] { files.deleteFile(path, true); });
    return true;
}

// Clears the StreamPath of the row `rowOf` gives and saves the row through the run's
// connection, in its transaction (the set may be a cached table, whose own connection would
// be another writer).
template <class RowOf>
void clearStreamPath(ResetRun &run, const RowOf &rowOf, const std::string &owner) {
    if (run.dryRun()) {
        run.line(dryRunLine("clear the StreamPath of the " + owner));
        return;
    }
    if (run.attempt([&] { rowOf()["StreamPath"] = db::Null; }))
        run.attempt([&] {
            db::Recordset &rs = rowOf();
            if (run.connection().IsOpen())
                rs.Update(run.connection());
            else
                rs.Update();
        });
}

// Deletes the greeting recordings of the query's rows (the messaging rules of the subscriber's
// call handler) and clears their StreamPath.
void removeEachGreeting(ResetRun &run, ScopedQuery &query) {
    query.forEachRow([&](db::Recordset &rs) {
        std::string alias = run.read<std::string>([&] { return rs["Alias"].Text(); });
        bool recorded = run.read<bool>([&] { return !rs["StreamPath"].IsNull(); });
        if (!recorded) {
            run.line("    " + alias + " greeting is not recorded");
            return;
        }
        run.line("    removing greeting WAV from file system:" + alias);
        std::string streamPath = run.read<std::string>([&] { return rs["StreamPath"].Text(); });
        switch (locateRecording(run, streamPath)) {
        case RecordingPlace::UnderStreamRoot:
            deleteRecording(run, run.streamFilesRoot() + streamPath);
            break;
        case RecordingPlace::AtPath:
            deleteRecording(run, streamPath);
            break;
        case RecordingPlace::Missing:
            run.line(kNotFoundLine);
            break;
        }
        clearStreamPath(
            run, [&]() -> db::Recordset & { return rs; }, alias + " greeting");
    });
}

} // namespace

RecordingPlace locateRecording(ResetRun &run, const std::string &streamPath) {
    IFileSystem &files = *run.host.files;
    if (run.read<bool>([&] { return files.fileExists(run.streamFilesRoot() + streamPath); }))
        return RecordingPlace::UnderStreamRoot;
    if (run.read<bool>([&] { return files.fileExists(streamPath); }))
        return RecordingPlace::AtPath;
    return RecordingPlace::Missing;
}

void RemoveVoiceNameFile(ResetRun &run) {
    auto row = [&run]() -> db::Recordset & { return run.subscriberRow(); };
    // A row that cannot be read has nothing to remove.
    bool recorded = run.read<bool>([&] { return !row()["StreamPath"].IsNull(); });
    if (!recorded) {
        run.line("    Subscriber has no voice name recorded.");
        return;
    }
    run.line("    removing voice name from file system");
    std::string streamPath = run.read<std::string>([&] { return row()["StreamPath"].Text(); });
    switch (locateRecording(run, streamPath)) {
    case RecordingPlace::UnderStreamRoot:
        if (deleteRecording(run, run.streamFilesRoot() + streamPath) && !run.dryRun())
            run.line("    Deleting " + run.streamFilesRoot() + streamPath);
        break;
    case RecordingPlace::AtPath:
        if (deleteRecording(run, streamPath) && !run.dryRun())
            run.line("    Deleting " + streamPath);
        break;
    case RecordingPlace::Missing:
        run.line(kNotFoundLine);
        break;
    }
    clearStreamPath(run, row, "voice name");
}

void RemoveGreetingFiles(ResetRun &run) {
    ScopedQuery query(run, "SELECT * FROM MessagingRule WHERE ParentObjectID=?",
                      {DbValue(run.subscriber().snapshot().CallHandlerObjectID)},
                      db::adLockOptimistic);
    if (query.rowCount() == 0)
        run.line("(error) could not find messaging rules for current subscriber");
    else
        run.inOneTransaction([&] { removeEachGreeting(run, query); });
}

} // namespace zeph
