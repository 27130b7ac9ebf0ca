// The stand-in host's files: paths on drive C: are the host folder's, and every call, the look
// at a file's last bytes included, reaches the machine's file system as that call.
#include "platform/ForwardingFileSystem.h"
#include "platform/Native.h"
#include "standin/HostDrive.h"
#include "support/TempHost.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace zeph;

namespace {

// The machine's file system, counting whole reads and reads of a file's end.
struct CountingFiles : ForwardingFileSystem {
    using ForwardingFileSystem::ForwardingFileSystem;
    std::optional<std::string> readFile(const std::string &path) override {
        ++whole;
        return inner().readFile(path);
    }
    std::optional<std::string> readFileTail(const std::string &path, std::size_t bytes) override {
        ++tails;
        return inner().readFileTail(path, bytes);
    }
    int whole = 0;
    int tails = 0;
};

TEST(HostFiles, AFilesEndIsReadAsItsEndOnTheHostDrive) {
    test::TempFolder host;
    {
        std::ofstream(host.path() + "/journal.txt", std::ios::binary)
            << std::string(5000, 'x') << "end\n";
    }
    auto counting = std::make_unique<CountingFiles>(native::makeFileSystem());
    CountingFiles &machine = *counting;
    std::unique_ptr<IFileSystem> files = sim::makeHostFileSystem(host.path(), std::move(counting));

    EXPECT_EQ(files->readFileTail("C:\\journal.txt", 6), std::optional<std::string>("xx"
                                                                                    "end\n"));
    EXPECT_EQ(machine.tails, 1);
    EXPECT_EQ(machine.whole, 0); // the file's 5,000 other bytes were never read
    EXPECT_EQ(files->readFileTail("C:\\journal.txt", 100000)->size(), 5004u);
    EXPECT_FALSE(files->readFileTail("C:\\missing.txt", 6));
}

} // namespace
