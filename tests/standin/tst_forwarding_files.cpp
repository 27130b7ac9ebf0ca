// Wrappers of the file system that watch a few calls: every call they do not watch, on the file
// system and on the text files it opens, still reaches the real one.
#include "platform/ForwardingFileSystem.h"
#include "platform/Native.h"
#include "platform/SyncCountingFiles.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace zeph;

namespace {

using CallLog = std::vector<std::string>;

// Notes each call that reaches the text files below it.
class RecordingWriter : public ForwardingTextWriter {
public:
    RecordingWriter(std::unique_ptr<ITextFileWriter> file, std::shared_ptr<CallLog> log)
        : ForwardingTextWriter(std::move(file))
        , m_log(std::move(log)) {}
    Status writeLine(const std::string &text) override {
        m_log->push_back("line " + text);
        return inner().writeLine(text);
    }
    Status writeLineUnsynced(const std::string &text) override {
        m_log->push_back("unsynced " + text);
        return inner().writeLineUnsynced(text);
    }
    Status sync() override {
        m_log->push_back("sync");
        return inner().sync();
    }
    void close() override {
        m_log->push_back("close");
        inner().close();
    }

private:
    std::shared_ptr<CallLog> m_log;
};

class RecordingFiles : public ForwardingFileSystem {
public:
    RecordingFiles(std::unique_ptr<IFileSystem> files, std::shared_ptr<CallLog> log)
        : ForwardingFileSystem(std::move(files))
        , m_log(std::move(log)) {}

protected:
    std::unique_ptr<ITextFileWriter> writerFor(std::unique_ptr<ITextFileWriter> file) override {
        return std::make_unique<RecordingWriter>(std::move(file), m_log);
    }

private:
    std::shared_ptr<CallLog> m_log;
};

// A wrapper that watches nothing but whole lines; everything else must pass it.
class LineWatchingFiles : public ForwardingFileSystem {
public:
    using ForwardingFileSystem::ForwardingFileSystem;
    int lines = 0;

protected:
    std::unique_ptr<ITextFileWriter> writerFor(std::unique_ptr<ITextFileWriter> file) override {
        struct Writer : ForwardingTextWriter {
            Writer(std::unique_ptr<ITextFileWriter> f, int &n)
                : ForwardingTextWriter(std::move(f))
                , count(n) {}
            Status writeLine(const std::string &text) override {
                ++count;
                return inner().writeLine(text);
            }
            int &count;
        };
        return std::make_unique<Writer>(std::move(file), lines);
    }
};

TEST(ForwardingFiles, EveryWriterCallAWrapperDoesNotWatchReachesTheRealFile) {
    test::TempFolder folder;
    auto log = std::make_shared<CallLog>();
    LineWatchingFiles files(std::make_unique<RecordingFiles>(native::makeFileSystem(), log));
    const std::string path = folder.path() + "/journal.txt";
    struct Step {
        const char *call;
        std::function<Status(ITextFileWriter &)> run;
        const char *reached;
    };
    const Step steps[] = {
        {"writeLine", [](ITextFileWriter &w) { return w.writeLine("one"); }, "line one"},
        {"writeLineUnsynced", [](ITextFileWriter &w) { return w.writeLineUnsynced("two"); },
         "unsynced two"},
        {"sync", [](ITextFileWriter &w) { return w.sync(); }, "sync"},
        {"close",
         [](ITextFileWriter &w) {
             w.close();
             return done();
         },
         "close"},
    };
    for (bool fresh : {true, false}) {
        SCOPED_TRACE(fresh ? "a new file" : "a file opened to append");
        log->clear();
        std::unique_ptr<ITextFileWriter> writer =
            fresh ? files.createNewTextFile(path) : files.openTextFile(path, true);
        ASSERT_TRUE(writer);
        for (const Step &step : steps) {
            SCOPED_TRACE(step.call);
            EXPECT_TRUE(step.run(*writer).ok());
            ASSERT_FALSE(log->empty());
            EXPECT_EQ(log->back(), step.reached);
        }
    }
    EXPECT_EQ(files.lines, 2);
    EXPECT_EQ(files.readFile(path), "one\r\ntwo\r\none\r\ntwo\r\n");
    // A taken name gives no writer, and no wrapper is handed a missing file.
    EXPECT_EQ(files.createNewTextFile(path), nullptr);
}

TEST(ForwardingFiles, TheSyncCounterCountsWhatItsFilesMakeDurable) {
    test::TempFolder folder;
    auto counts = std::make_shared<FileSyncCounts>();
    SyncCountingFiles files(native::makeFileSystem(), counts);
    auto writer = files.createNewTextFile(folder.path() + "/run.log");
    ASSERT_TRUE(writer);
    EXPECT_TRUE(writer->writeLineUnsynced("a").ok());
    EXPECT_TRUE(writer->writeLineUnsynced("b").ok());
    EXPECT_TRUE(writer->sync().ok());
    EXPECT_TRUE(writer->writeLine("c").ok());
    writer->close();
    EXPECT_EQ(counts->lines, 3);
    EXPECT_EQ(counts->syncs, 2);
    EXPECT_EQ(files.createNewTextFile(folder.path() + "/run.log"), nullptr);
    EXPECT_EQ(files.readFile(folder.path() + "/run.log"), "a\r\nb\r\nc\r\n");
}

} // namespace
