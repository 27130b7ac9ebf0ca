// The Windows backend on the system's own calls (run under Wine in CI): files, the run lock,
// the registry, services, the workstation, GUIDs and the mail library.
#include "platform/Error.h"
#include "platform/win32/MapiMailStore.h"
#include "platform/win32/Win32.h"
#include "platform/win32/Win32Machine.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <windows.h>

namespace fs = std::filesystem;
using namespace zeph;

namespace {

std::string bytesOf(const std::string &path) {
    Result<std::optional<std::string>> read = win32::readWholeFile(path);
    EXPECT_TRUE(read) << read.error();
    EXPECT_TRUE(read && read->has_value()) << path;
    return read && read->has_value() ? **read : std::string();
}

long errorNumberOf(const std::function<void()> &call) {
    try {
        call();
    } catch (const Error &e) {
        return e.number();
    }
    return 0;
}

TEST(Win32Files, ReadOnlyFilesGoOnlyWhenForced) {
    test::TempFolder folder;
    const std::string path = folder.path() + "/recording.wav";
    std::ofstream(path) << "sound";
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    auto files = win32::makeFileSystem();
    EXPECT_EQ(errorNumberOf([&] { files->deleteFile(path, false); }), errnum::kPermissionDenied);
    EXPECT_TRUE(files->fileExists(path));
    files->deleteFile(path, true);
    EXPECT_FALSE(files->fileExists(path));
    EXPECT_EQ(errorNumberOf([&] { files->deleteFile(path, true); }), errnum::kFileNotFound);
}

TEST(Win32Files, AtomicWritesReplaceTheOldFileAndLeaveNoTemporary) {
    test::TempFolder folder;
    const std::string path = folder.path() + "/stand-in.conf";
    for (const std::string content : {"first\n", "second, longer\r\nand two lines\n", ""}) {
        const Status written = win32::writeFileAtomically(path, content);
        ASSERT_TRUE(written) << written.error();
        EXPECT_EQ(bytesOf(path), content); // bytes as written: no text-mode line ends
    }
    EXPECT_FALSE(fs::exists(path + ".new"));
    const Status refused = win32::writeFileAtomically(folder.path() + "/no/such/folder/x", "x");
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("cannot write"), std::string::npos) << refused.error();
    const Result<std::optional<std::string>> none = win32::readWholeFile(folder.path() + "/none");
    ASSERT_TRUE(none) << none.error();
    EXPECT_FALSE(none->has_value());
}

TEST(Win32Files, LinesEndInCrLfAndNewFilesAreNeverShared) {
    test::TempFolder folder;
    auto files = win32::makeFileSystem();
    const std::string path = folder.path() + "/Zephrane_Log.TXT";
    auto writer = files->createNewTextFile(path);
    ASSERT_TRUE(writer);
    EXPECT_EQ(files->createNewTextFile(path), nullptr);
    EXPECT_TRUE(writer->writeLine("first"));
    EXPECT_TRUE(writer->writeLine("zweite Zeile: Grüße"));
    // Another reader sees each line as soon as it is written.
    EXPECT_EQ(files->readFile(path), "first\r\nzweite Zeile: Grüße\r\n");
    writer->close();
    EXPECT_FALSE(writer->writeLine("after close"));
    auto appender = files->openTextFile(path, true);
    EXPECT_TRUE(appender->writeLine("third"));
    appender->close();
    EXPECT_EQ(files->readFile(path), "first\r\nzweite Zeile: Grüße\r\nthird\r\n");
    auto truncating = files->openTextFile(path, false);
    truncating->close();
    EXPECT_EQ(files->readFile(path), "");
}

// The tail read at the file's end must be what a whole read ends with, in every shape a
// journal can have when the start-up scan looks at it.
TEST(Win32Files, ATailIsTheEndOfWhatAWholeReadGives) {
    test::TempFolder folder;
    auto files = win32::makeFileSystem();
    std::string longText;
    for (int i = 0; longText.size() < 200000; ++i)
        longText += "line " + std::to_string(i) + " Grüße\r\n";
    struct Case {
        const char *name;
        std::optional<std::string> content; // nothing: no such file
        std::size_t bytes;
    };
    const Case cases[] = {
        {"missing", std::nullopt, 64},
        {"empty", std::string(), 64},
        {"shorter than the tail", std::string("closed\r\n"), 64},
        {"exactly the tail", std::string(64, 'x'), 64},
        {"one byte longer", "y" + std::string(64, 'x'), 64},
        {"long, with raw line ends", longText, 64},
        {"long, tail wider than a read chunk", longText, 150000},
        {"no bytes asked for", std::string("closed\r\n"), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.path() + "/" + c.name + ".jrn";
        if (c.content) {
            const Status written = win32::writeFileAtomically(path, *c.content);
            ASSERT_TRUE(written) << written.error();
        }
        const std::optional<std::string> tail = files->readFileTail(path, c.bytes);
        const std::optional<std::string> whole = files->readFile(path);
        ASSERT_EQ(tail.has_value(), c.content.has_value());
        ASSERT_EQ(whole, c.content);
        if (!tail)
            continue;
        const std::size_t kept = std::min(c.bytes, whole->size());
        EXPECT_EQ(*tail, whole->substr(whole->size() - kept));
    }
}

TEST(Win32Files, ATailIsReadWhileAnotherWriterAppends) {
    test::TempFolder folder;
    auto files = win32::makeFileSystem();
    const std::string path = folder.path() + "/open.jrn";
    auto writer = files->openTextFile(path, true);
    ASSERT_TRUE(writer);
    EXPECT_EQ(files->readFileTail(path, 64), std::string());
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(writer->writeLine("entry " + std::to_string(i)));
        const std::optional<std::string> whole = files->readFile(path);
        ASSERT_TRUE(whole);
        const std::size_t kept = std::min<std::size_t>(64, whole->size());
        EXPECT_EQ(files->readFileTail(path, 64), whole->substr(whole->size() - kept)) << i;
    }
    writer->close();
    EXPECT_EQ(files->readFileTail(path, 10), "entry 39\r\n");
}

// A subscriber list saved by a spreadsheet on a Japanese system is in code page 932; a list
// that is not UTF-8 is read in the system's own ANSI code page.
// What tells a file apart from the others: the file written in place, renamed, or moved to
// another folder of its volume is the same file; a copy is another; a file that is not there
// has nothing that tells it apart. A file another program holds open is read too.
TEST(Win32Files, AFileIsItselfWhereverItMovesOnItsVolumeAndACopyIsAnother) {
    test::TempFolder folder;
    const std::string database = folder.path() + "/TarvoDb.sqlite";
    std::ofstream(database) << "pages";
    const std::string identity = win32::fileIdentity(database);
    ASSERT_FALSE(identity.empty());

    {
        std::ofstream held(database, std::ios::app);
        held << " and more pages" << std::flush;
        EXPECT_EQ(win32::fileIdentity(database), identity) << "written in place, held open";
    }
    fs::copy_file(database, folder.path() + "/copy.sqlite");
    EXPECT_NE(win32::fileIdentity(folder.path() + "/copy.sqlite"), identity) << "a copy";
    EXPECT_FALSE(win32::fileIdentity(folder.path() + "/copy.sqlite").empty());
    fs::create_directories(folder.path() + "/moved");
    fs::rename(database, folder.path() + "/moved/TarvoDb.sqlite");
    EXPECT_EQ(win32::fileIdentity(folder.path() + "/moved/TarvoDb.sqlite"), identity) << "moved";
    EXPECT_EQ(win32::fileIdentity(database), "") << "not there";
}

TEST(Win32Text, CodePagesAndTheSystemsAnsiCodePage) {
    EXPECT_EQ(win32::codePageText("\x93\xfa\x96\x7b,4001", 932), "\xE6\x97\xA5\xE6\x9C\xAC,4001");
    EXPECT_EQ(win32::codePageText("\x80", 1252), "\xE2\x82\xAC");
    EXPECT_EQ(win32::codePageText("\x82", 932), std::nullopt) << "a lead byte cut short";
    EXPECT_EQ(win32::ansiCodePageText("\xE9t\xE9"), win32::codePageText("\xE9t\xE9", ::GetACP()));
    // Under Wine with a Japanese locale (LANG=ja_JP.UTF-8) the system's code page is 932.
    if (::GetACP() == 932) {
        EXPECT_EQ(win32::ansiCodePageText("\x93\xfa\x96\x7b"), "\xE6\x97\xA5\xE6\x9C\xAC");
    }
}

// The run log is written in the system's ANSI code page: each character as the code page
// holds it, one it lacks as "?" and never as a look-alike.
TEST(Win32Text, TextWrittenInACodePage) {
    const struct {
        const char *text;
        unsigned int codePage;
        const char *bytes;
    } cases[] = {
        {"Alias=M\xC3\xBCller, 4001", 1252, "Alias=M\xFCller, 4001"},
        {"\xE2\x82\xAC", 1252, "\x80"},
        {"\xE6\x97\xA5\xE6\x9C\xAC", 1252, "??"},
        {"\xC5\x81\xC3\xB3"
         "d\xC5\xBA",
         1252,
         "?\xF3"
         "d?"}, // no "L" for "\xC5\x81"
        {"\xE6\x97\xA5\xE6\x9C\xAC,4001", 932, "\x93\xfa\x96\x7b,4001"},
        {"", 1252, ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(win32::codePageBytes(c.text, c.codePage), c.bytes) << c.text;
        EXPECT_EQ(win32::codePageText(*win32::codePageBytes(c.text, c.codePage), c.codePage),
                  win32::codePageText(c.bytes, c.codePage));
    }
    EXPECT_EQ(win32::ansiCodePageBytes("M\xC3\xBCller"),
              win32::codePageBytes("M\xC3\xBCller", ::GetACP()));
    if (::GetACP() == 932) {
        EXPECT_EQ(win32::ansiCodePageBytes("\xE6\x97\xA5\xE6\x9C\xAC"), "\x93\xfa\x96\x7b");
    }
}

TEST(Win32Files, FoldersListTheirPlainFilesWithWindowsSeparators) {
    test::TempFolder folder;
    auto files = win32::makeFileSystem();
    files->createFolder(folder.path() + "/Stream Files");
    EXPECT_THROW(files->createFolder(folder.path() + "/Stream Files"), Error);
    EXPECT_EQ(errorNumberOf([&] { files->createFolder(folder.path() + "/a/b"); }),
              errnum::kPathNotFound);
    std::ofstream(folder.path() + "/Stream Files/one.wav") << "1";
    std::ofstream(folder.path() + "/Stream Files/two.wav") << "2";
    files->createFolder(folder.path() + "/Stream Files/sub");
    std::set<std::string> names;
    for (const FileEntry &entry : files->listFiles(folder.path() + "\\Stream Files\\")) {
        names.insert(entry.name);
        EXPECT_EQ(entry.path.find('/'), std::string::npos) << entry.path;
        EXPECT_TRUE(files->fileExists(entry.path));
    }
    EXPECT_EQ(names, (std::set<std::string>{"one.wav", "two.wav"}));
    EXPECT_TRUE(files->listFiles(folder.path() + "/Stream Files/sub").empty());
    EXPECT_EQ(errorNumberOf([&] { files->listFiles(folder.path() + "/none"); }),
              errnum::kPathNotFound);
    EXPECT_TRUE(files->folderExists(folder.path()));
    EXPECT_FALSE(files->fileExists(folder.path()));
}

TEST(Win32RunLock, IsExclusiveNamesItsHolderAndIsFreedByItsEnd) {
    test::TempFolder folder;
    const std::string path = folder.path() + "/TarvoDb.sqlite.run-lock";
    std::string heldBy;
    auto lock = win32::takeFileLock(path, "run on WS1", heldBy);
    ASSERT_TRUE(lock);
    EXPECT_EQ(win32::takeFileLock(path, "second", heldBy), nullptr);
    EXPECT_EQ(heldBy.rfind("run on WS1 (process ", 0), 0u) << heldBy;
    lock.reset();
    EXPECT_EQ(bytesOf(path), "");
    heldBy.clear();
    EXPECT_TRUE(win32::takeFileLock(path, "third", heldBy));
    EXPECT_EQ(heldBy, "");
}

class Win32RegistryTest : public ::testing::Test {
protected:
    // A key of the user's own: the test may write there on any machine.
    const std::string kKey = "Software\\ZephraneTest\\Registry";
    void TearDown() override {
        auto key = win32::makeRegistry();
        key->deleteValue(RegRoot::CurrentUser, kKey, "Root Path");
        key->deleteValue(RegRoot::CurrentUser, kKey, "Count");
    }
    std::unique_ptr<IRegistry> registry = win32::makeRegistry();
};

TEST_F(Win32RegistryTest, TextAndNumbersRoundTripAndEnumerate) {
    registry->createKey(RegRoot::CurrentUser, kKey);
    EXPECT_TRUE(registry->createKey(RegRoot::CurrentUser, kKey)); // existed already
    EXPECT_TRUE(registry->openable(RegRoot::CurrentUser, kKey, RegAccess::Write));
    EXPECT_FALSE(registry->openable(RegRoot::CurrentUser, kKey + "\\Missing", RegAccess::Read));

    const std::string text = "C:\\Prädix\\";
    RegRawValue textValue{REG_SZ_, std::vector<std::uint8_t>(text.begin(), text.end())};
    textValue.data.push_back(0);
    RegRawValue number{REG_DWORD_, {0x2a, 0, 0, 0}};
    ASSERT_TRUE(registry->setValue(RegRoot::CurrentUser, kKey, "Root Path", textValue));
    ASSERT_TRUE(registry->setValue(RegRoot::CurrentUser, kKey, "Count", number));

    auto readText = registry->queryValue(RegRoot::CurrentUser, kKey, "root path");
    ASSERT_TRUE(readText);
    EXPECT_EQ(readText->type, REG_SZ_);
    EXPECT_EQ(readText->data, textValue.data); // UTF-8 with its terminating zero
    auto readNumber = registry->queryValue(RegRoot::CurrentUser, kKey, "Count");
    ASSERT_TRUE(readNumber);
    EXPECT_EQ(readNumber->type, REG_DWORD_);
    EXPECT_EQ(readNumber->data, number.data);

    // In the registry's own order (Windows keeps the order of creation, Wine sorts by name).
    auto values = registry->enumValues(RegRoot::CurrentUser, kKey);
    ASSERT_TRUE(values);
    std::map<std::string, RegRawValue> byName;
    for (const RegNamedValue &value : *values)
        byName[value.name] = value.value;
    ASSERT_EQ(byName.size(), 2u);
    EXPECT_EQ(byName["Root Path"].data, textValue.data);
    EXPECT_EQ(byName["Count"].data, number.data);

    EXPECT_TRUE(registry->deleteValue(RegRoot::CurrentUser, kKey, "Count"));
    EXPECT_FALSE(registry->deleteValue(RegRoot::CurrentUser, kKey, "Count"));
    EXPECT_FALSE(registry->queryValue(RegRoot::CurrentUser, kKey, "Count"));
    EXPECT_FALSE(registry->enumValues(RegRoot::CurrentUser, kKey + "\\Missing"));
    EXPECT_FALSE(registry->setValue(RegRoot::CurrentUser, kKey + "\\Missing", "x", number));
}

TEST(Win32Machine, ServicesWorkstationAndGuids) {
    EXPECT_FALSE(win32::makeServices()->serviceState("", "ZephraneNoSuchService"));
    auto workstation = win32::makeWorkstation();
    auto info = workstation->info102();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->computerName, win32::hostName());
    EXPECT_EQ(workstation->osPlatformId(), 2);
    auto guids = win32::makeGuidSource();
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string guid = guids->newGuid();
        ASSERT_EQ(guid.size(), 38u) << guid;
        EXPECT_EQ(guid.front(), '{');
        EXPECT_EQ(guid.back(), '}');
        EXPECT_EQ(guid.find_first_of("abcdef"), std::string::npos) << guid;
        seen.insert(guid);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(Win32Mail, AMachineWithoutTheMailLibraryHasNoSession) {
    EXPECT_EQ(win32::makeMapiMailStore()->createSession(), nullptr);
    EXPECT_EQ(win32::makeMapiMailStore(L"Zephrane.NoSuchLibrary")->createSession(), nullptr);
}

TEST(Win32Mail, AnObjectThatIsNoMailSessionFailsWithAnError) {
    // Any registered automation object stands for a library that answers otherwise.
    auto session = win32::makeMapiMailStore(L"Scripting.Dictionary")->createSession();
    if (!session)
        GTEST_SKIP() << "Scripting.Dictionary is not registered on this machine";
    try {
        session->logon("", "", false, "EXCH1\nuser@example.com");
        FAIL() << "a dictionary took a logon";
    } catch (const Error &e) {
        EXPECT_NE(e.description().find("Logon"), std::string::npos) << e.description();
    }
}

} // namespace
