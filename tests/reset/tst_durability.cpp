// Where a reset run makes its files lasting: the journal's records before the steps they
// announce, the log's lines with them and at each subscriber's end, not each line on its own.
#include "reset_helpers.h"

#include <gtest/gtest.h>

#include <memory>

namespace zeph {
namespace {

struct FileSyncs {
    int lines = 0;
    int syncs = 0; // a synced line or a sync of the lines before
};

class CountingWriter : public ITextFileWriter {
public:
    CountingWriter(std::unique_ptr<ITextFileWriter> inner, std::shared_ptr<FileSyncs> counts)
        : m_inner(std::move(inner))
        , m_counts(std::move(counts)) {}
    bool writeLine(const std::string &text) override {
        ++m_counts->lines;
        ++m_counts->syncs;
        return m_inner->writeLine(text);
    }
    bool writeLineUnsynced(const std::string &text) override {
        ++m_counts->lines;
        return m_inner->writeLineUnsynced(text);
    }
    bool sync() override {
        ++m_counts->syncs;
        return m_inner->sync();
    }
    void close() override { m_inner->close(); }

private:
    std::unique_ptr<ITextFileWriter> m_inner;
    std::shared_ptr<FileSyncs> m_counts;
};

class CountingFiles : public IFileSystem {
public:
    CountingFiles(std::unique_ptr<IFileSystem> inner, std::shared_ptr<FileSyncs> counts)
        : m_inner(std::move(inner))
        , m_counts(std::move(counts)) {}
    bool fileExists(const std::string &path) override { return m_inner->fileExists(path); }
    bool folderExists(const std::string &path) override { return m_inner->folderExists(path); }
    void createFolder(const std::string &path) override { m_inner->createFolder(path); }
    std::vector<FileEntry> listFiles(const std::string &folder) override {
        return m_inner->listFiles(folder);
    }
    void deleteFile(const std::string &path, bool force) override {
        m_inner->deleteFile(path, force);
    }
    std::unique_ptr<ITextFileWriter> openTextFile(const std::string &path, bool append) override {
        return counted(m_inner->openTextFile(path, append));
    }
    std::unique_ptr<ITextFileWriter> createNewTextFile(const std::string &path) override {
        return counted(m_inner->createNewTextFile(path));
    }
    std::optional<std::string> readFile(const std::string &path) override {
        return m_inner->readFile(path);
    }
    std::string nativePath(const std::string &path) override { return m_inner->nativePath(path); }
    std::string userDataFolder() override { return m_inner->userDataFolder(); }

private:
    std::unique_ptr<ITextFileWriter> counted(std::unique_ptr<ITextFileWriter> writer) {
        if (!writer)
            return writer;
        return std::make_unique<CountingWriter>(std::move(writer), m_counts);
    }

    std::unique_ptr<IFileSystem> m_inner;
    std::shared_ptr<FileSyncs> m_counts;
};

// The file syncs and lines of a reset of `subscribers` ordinary subscribers.
FileSyncs resetCounting(int subscribers) {
    test::ResetBench b(12);
    auto counts = std::make_shared<FileSyncs>();
    b.host().files = std::make_unique<CountingFiles>(std::move(b.host().files), counts);
    const std::string ordinary = "SELECT SubscriberObjectID FROM Subscriber ORDER BY Alias";
    int added = 0;
    for (const auto &row : b.sql(ordinary).rows) {
        const test::SubscriberFacts f = b.facts(std::get<std::string>(row[0]));
        if (added < subscribers && b.ordinary(f)) {
            b.addRow(f.objectId);
            ++added;
        }
    }
    EXPECT_EQ(added, subscribers);
    b.run();
    EXPECT_EQ(b.summary().subscribersReset, subscribers);
    EXPECT_EQ(b.summary().errorCount, 0);
    return *counts;
}

TEST(Durability, AResetSyncsItsFilesAtTheJournalsPointsNotAtEachLine) {
    const FileSyncs one = resetCounting(1);
    const FileSyncs three = resetCounting(3);
    const double syncs = (three.syncs - one.syncs) / 2.0;
    const double lines = (three.lines - one.lines) / 2.0;
    // The journal's records go to disk at the entry's beginning, at the creation and at its
    // end, the log's lines with each: six a subscriber, while it writes many more lines.
    EXPECT_EQ(syncs, 6) << lines << " lines a subscriber";
    EXPECT_GT(lines, 3 * syncs);
}

} // namespace
} // namespace zeph
