// This OS's files as the programs open them: new files are their owner's alone, a link planted
// at a name is never written through, the wall of a folder resolves "..", and links, and a
// handed-in file is read only when it is a plain file of a bounded size.
#include "platform/Error.h"
#include "platform/posix/Posix.h"
#include "support/TempHost.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace zeph;

namespace {

std::string readAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int modeOf(const std::string &path) {
    return static_cast<int>(fs::status(path).permissions() & fs::perms::mask);
}

} // namespace

TEST(PosixFiles, NewFilesAreTheOwnersAloneAndNoLinkIsWrittenThrough) {
    test::TempFolder dir;
    auto files = posix::makeFileSystem();
    const std::string target = dir.path() + "/target";
    std::ofstream(target) << "kept";
    fs::create_symlink(target, dir.path() + "/link");

    // A new file, through each way the programs make one.
    files->createNewTextFile(dir.path() + "/new.txt")->close();
    files->openTextFile(dir.path() + "/opened.txt", false)->close();
    files->openTextFile(dir.path() + "/appended.txt", true)->close();
    const Status atomic = posix::writeFileAtomically(dir.path() + "/atomic.conf", "x");
    ASSERT_TRUE(atomic) << atomic.error();
    for (const char *name : {"new.txt", "opened.txt", "appended.txt", "atomic.conf"})
        EXPECT_EQ(modeOf(dir.path() + "/" + name) & 077, 0) << name;

    // A link at the name: a new file's name is taken, and an open is refused.
    EXPECT_EQ(files->createNewTextFile(dir.path() + "/link"), nullptr);
    for (bool append : {false, true})
        EXPECT_THROW(files->openTextFile(dir.path() + "/link", append), Error) << append;
    std::string held;
    EXPECT_THROW(posix::takeFileLock(dir.path() + "/link", "me", held), Error);
    EXPECT_EQ(readAll(target), "kept");
    // A link left where an atomic write puts its new file is replaced, not written through.
    fs::create_symlink(target, dir.path() + "/settings.conf.new");
    const Status replaced = posix::writeFileAtomically(dir.path() + "/settings.conf", "new");
    ASSERT_TRUE(replaced) << replaced.error();
    EXPECT_EQ(readAll(target), "kept");
    EXPECT_EQ(readAll(dir.path() + "/settings.conf"), "new");
}

TEST(PosixFiles, APathLiesInsideAFolderOnlyOnceItsDotsAndLinksAreResolved) {
    test::TempFolder dir;
    auto files = posix::makeFileSystem();
    const std::string root = dir.path() + "/root";
    fs::create_directories(root + "/Stream Files");
    fs::create_directories(dir.path() + "/outside");
    fs::create_directory_symlink(dir.path() + "/outside", root + "/Stream Files/out");
    fs::create_directory_symlink(root + "/Stream Files", dir.path() + "/in");
    struct Case {
        std::string path;
        bool inside;
    };
    const Case cases[] = {
        {root + "/Stream Files/a.wav", true},
        {root + "\\Stream Files\\a.wav", true},
        {root, true},
        {root + "/", true},
        {root + "/Stream Files/../../outside/a.wav", false},
        {root + "/Stream Files/./../Stream Files/a.wav", true},
        {root + "/missing/../../outside/a.wav", false},
        {root + "/Stream Files/out/a.wav", false},
        {dir.path() + "/in/a.wav", true},
        {dir.path() + "/rootx/a.wav", false},
        {"relative/a.wav", false},
        {"", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(files->liesInside(c.path, root + "/"), c.inside) << c.path;
    EXPECT_FALSE(files->liesInside(root + "/a.wav", ""));
}

TEST(PosixFiles, AHandedInFileIsReadOnlyWhenPlainAndSmallEnough) {
    test::TempFolder dir;
    auto files = posix::makeFileSystem();
    const std::string plain = dir.path() + "/list.csv";
    std::ofstream(plain) << "alias,extension\r\n";
    const std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        std::size_t limit;
        std::string problem; // "" when it is read
    };
    const Case cases[] = {
        {plain, 17, ""},
        {plain, 16, "it is larger than 16 bytes, the most that is read of it"},
        {dir.path(), 100, "it is a folder"},
        {fifo, 100, "it is not a plain file (a device, a pipe or a socket)"},
        {"/dev/zero", 100, "it is not a plain file (a device, a pipe or a socket)"},
        {dir.path() + "/missing", 100, "No such file or directory"},
    };
    for (const Case &c : cases) {
        const Result<std::string> read = files->readPlainFile(c.path, c.limit);
        EXPECT_EQ(read.ok() ? "" : read.error(), c.problem) << c.path;
        EXPECT_EQ(read.ok(), c.problem.empty()) << c.path;
    }
    EXPECT_EQ(files->readPlainFile(plain, 1024).valueOr(""), "alias,extension\r\n");
}

// What tells a file apart from the others: the file written in place, renamed, or moved to
// another folder of its disk is the same file; a copy (as `cp -a` makes) is another; a file
// that is not there has nothing that tells it apart.
TEST(PosixFiles, AFileIsItselfWhereverItMovesOnItsDiskAndACopyIsAnother) {
    test::TempFolder dir;
    const std::string database = dir.path() + "/TarvoDb.sqlite";
    std::ofstream(database) << "pages";
    const std::string identity = posix::fileIdentity(database);
    ASSERT_FALSE(identity.empty());

    std::ofstream(database, std::ios::app) << " and more pages";
    EXPECT_EQ(posix::fileIdentity(database), identity) << "written in place";
    fs::copy_file(database, dir.path() + "/copy.sqlite");
    EXPECT_NE(posix::fileIdentity(dir.path() + "/copy.sqlite"), identity) << "a copy";
    EXPECT_FALSE(posix::fileIdentity(dir.path() + "/copy.sqlite").empty());
    fs::create_directories(dir.path() + "/moved");
    fs::rename(database, dir.path() + "/moved/TarvoDb.sqlite");
    EXPECT_EQ(posix::fileIdentity(dir.path() + "/moved/TarvoDb.sqlite"), identity) << "moved";
    EXPECT_EQ(posix::fileIdentity(database), "") << "not there";
}
