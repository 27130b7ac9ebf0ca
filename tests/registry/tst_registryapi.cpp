// The registry operations over the stand-in host's registry file.
#include "app/registry/RegistryAPI.h"
#include "platform/Error.h"
#include "platform/sim/FileRegistry.h"
#include "support/TempHost.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;
using namespace zeph;

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kKey = "SOFTWARE\\Ambrel\\Test";
const std::string kKeyLine = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Test]\r\n";

class RegistryApiTest : public ::testing::Test {
protected:
    RegistryApiTest()
        : m_path(m_dir.path() + "/registry.reg")
        , m_registry(sim::makeFileRegistry(
              m_path, [this](const std::string &text) { m_notices.push_back(text); }))
        , m_api(*m_registry) {}

    void writeFile(const std::string &content) {
        std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
        out << content;
    }

    std::string readFile() const {
        std::ifstream in(m_path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // A file holding the test key with the given value lines.
    void writeKey(const std::string &valueLines) { writeFile(kHeader + kKeyLine + valueLines); }

    RegVariant text(const std::string &name, const RegVariant &defaultValue = {}) {
        return m_api.QueryValue(HKEY_LOCAL_MACHINE, kKey, name, REG_SZ, defaultValue);
    }

    test::TempFolder m_dir;
    std::string m_path;
    std::vector<std::string> m_notices;
    std::unique_ptr<IRegistry> m_registry;
    RegistryAPI m_api;
};

using Bytes = std::vector<std::uint8_t>;

// ---- QueryValue ---------------------------------------------------------------------------

TEST_F(RegistryApiTest, EmptyTextIsNotTheDefaultButAMissingValueIs) {
    writeKey("\"Empty\"=\"\"\r\n\"Name\"=\"Ambrel\"\r\n");
    EXPECT_EQ(text("Empty", std::string("fallback")), RegVariant(std::string()));
    EXPECT_EQ(text("Name", std::string("fallback")), RegVariant(std::string("Ambrel")));
    EXPECT_EQ(text("Missing", std::string("fallback")), RegVariant(std::string("fallback")));

    const RegVariant missing = text("Missing");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(missing));
    EXPECT_EQ(regText(missing), "");
    EXPECT_EQ(regNumber(missing), 0);
}

TEST_F(RegistryApiTest, MissingKeyOrFileGivesTheDefault) {
    EXPECT_EQ(text("Name", std::string("d")), RegVariant(std::string("d")));
    EXPECT_FALSE(fs::exists(m_path)); // reading never creates the file
    writeKey("");
    EXPECT_EQ(m_api.QueryValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", "Name", REG_DWORD, 7),
              RegVariant(7));
    EXPECT_TRUE(m_notices.empty());
}

TEST_F(RegistryApiTest, UnsupportedKindRaisesOnlyOnceTheKeyIsOpen) {
    writeKey("\"Name\"=\"x\"\r\n");
    try {
        m_api.QueryValue(HKEY_LOCAL_MACHINE, kKey, "Name", 2);
        FAIL() << "kind 2 was accepted";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), 1001);
        EXPECT_EQ(e.description(), "Unsupported value type");
    }
    EXPECT_EQ(m_api.QueryValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere", "Name", 2, 5),
              RegVariant(5));
}

TEST_F(RegistryApiTest, TextMustFitTheBufferWithItsTerminator) {
    struct Case {
        std::string data;
        bool fits;
    };
    const Case cases[] = {
        {std::string(1023, 'a'), true},
        {std::string(1024, 'a'), false},
        {std::string(1021, 'a') + "\xC3\xA9", true},  // 1023 bytes of UTF-8
        {std::string(1022, 'a') + "\xC3\xA9", false}, // 1024 bytes: no room for the zero
    };
    for (const auto &c : cases) {
        writeKey("\"Long\"=\"" + c.data + "\"\r\n");
        const RegVariant result = text("Long", std::string("default"));
        EXPECT_EQ(regText(result), c.fits ? c.data : "default") << c.data.size() << " bytes";
    }
}

TEST_F(RegistryApiTest, StoredTypeIsNotComparedWithTheKindAsked) {
    writeKey("\"Number\"=dword:0000002a\r\n"
             "\"Text\"=\"4\"\r\n"
             "\"Short\"=hex:01,02\r\n"
             "\"Wide\"=hex:01,02,03,04,05\r\n");
    auto query = [&](const char *name, int kind) {
        return m_api.QueryValue(HKEY_LOCAL_MACHINE, kKey, name, kind, std::string("default"));
    };
    EXPECT_EQ(query("Number", REG_DWORD), RegVariant(42));
    EXPECT_EQ(query("Number", REG_BINARY), RegVariant(Bytes{0x2a, 0, 0, 0}));
    EXPECT_EQ(query("Number", REG_SZ), RegVariant(std::string("*\0\0", 3))); // less one byte
    EXPECT_EQ(query("Text", REG_DWORD), RegVariant(0x34));                   // "4" and its zero
    EXPECT_EQ(query("Text", REG_BINARY), RegVariant(Bytes{'4', 0}));
    EXPECT_EQ(query("Short", REG_DWORD), RegVariant(0x0201));
    EXPECT_EQ(query("Wide", REG_DWORD), RegVariant(std::string("default"))); // 4-byte buffer
}

TEST_F(RegistryApiTest, BinaryMustFitItsBuffer) {
    auto hexOf = [](std::size_t n) {
        std::string list;
        for (std::size_t i = 0; i < n; ++i)
            list += (i ? ",0" : "0") + std::to_string(i % 10);
        return list;
    };
    writeKey("\"Fits\"=hex:" + hexOf(4096) + "\r\n\"TooBig\"=hex:" + hexOf(4097) + "\r\n");
    const RegVariant fits = m_api.QueryValue(HKEY_LOCAL_MACHINE, kKey, "Fits", REG_BINARY);
    ASSERT_TRUE(std::holds_alternative<Bytes>(fits));
    EXPECT_EQ(std::get<Bytes>(fits).size(), 4096u);
    EXPECT_EQ(std::get<Bytes>(fits)[9], 0x09);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(
        m_api.QueryValue(HKEY_LOCAL_MACHINE, kKey, "TooBig", REG_BINARY)));
}

// ---- SetValue, CreateKey, DeleteValue -------------------------------------------------------

TEST_F(RegistryApiTest, SetValueOnAMissingKeyWritesNothing) {
    writeKey("\"Name\"=\"x\"\r\n");
    const std::string before = readFile();
    m_api.SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ambrel\\Absent", "Name", REG_SZ,
                   std::string("y"));
    EXPECT_EQ(readFile(), before);
    EXPECT_FALSE(m_api.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ambrel\\Absent"));
}

TEST_F(RegistryApiTest, SetValueStoresEachKindAndReadsItBack) {
    writeKey("");
    m_api.SetValue(HKEY_LOCAL_MACHINE, kKey, "Text", REG_SZ, std::string("two\r\nlines"));
    m_api.SetValue(HKEY_LOCAL_MACHINE, kKey, "FromNumber", REG_SZ, 12);
    m_api.SetValue(HKEY_LOCAL_MACHINE, kKey, "Bytes", REG_BINARY, Bytes{0, 255, 7});
    m_api.SetValue(HKEY_LOCAL_MACHINE, kKey, "Number", REG_DWORD, -2);
    m_api.SetValue(HKEY_LOCAL_MACHINE, kKey, "NumberText", REG_DWORD, std::string("77"));
    m_api.SetValue(HKEY_LOCAL_MACHINE, kKey, "Other", 2, std::string("not stored"));

    EXPECT_EQ(text("Text"), RegVariant(std::string("two\r\nlines")));
    EXPECT_EQ(text("FromNumber"), RegVariant(std::string("12")));
    EXPECT_EQ(m_api.QueryValue(HKEY_LOCAL_MACHINE, kKey, "Bytes", REG_BINARY),
              RegVariant(Bytes{0, 255, 7}));
    EXPECT_EQ(m_api.QueryValue(HKEY_LOCAL_MACHINE, kKey, "Number", REG_DWORD), RegVariant(-2));
    EXPECT_EQ(m_api.QueryValue(HKEY_LOCAL_MACHINE, kKey, "NumberText", REG_DWORD), RegVariant(77));
    EXPECT_EQ(m_api.EnumValues(HKEY_LOCAL_MACHINE, kKey).size(), 5u);
    EXPECT_NE(readFile().find("\"Number\"=dword:fffffffe\r\n"), std::string::npos);
}

TEST_F(RegistryApiTest, CreateKeyOnAnExistingKeyReturnsTrueAndChangesNothing) {
    writeKey("\"Name\"=\"x\"\r\n");
    const std::string before = readFile();
    EXPECT_TRUE(m_api.CreateKey(HKEY_LOCAL_MACHINE, kKey));
    EXPECT_TRUE(m_api.CreateKey(HKEY_LOCAL_MACHINE, "software\\ambrel")); // implied parent
    EXPECT_TRUE(m_api.CreateKey(HKEY_LOCAL_MACHINE, ""));                 // the root
    EXPECT_EQ(readFile(), before);
}

TEST_F(RegistryApiTest, CreateKeyMakesTheKeyWithItsParents) {
    const std::string history =
        "SOFTWARE\\Ambrel\\Brennor\\Administration Tools\\Wystan\\SubQueries";
    EXPECT_FALSE(m_api.CreateKey(HKEY_LOCAL_MACHINE, history)); // the file did not exist
    EXPECT_TRUE(m_api.KeyExists(HKEY_LOCAL_MACHINE, history));
    EXPECT_TRUE(m_api.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ambrel\\Brennor"));
    EXPECT_TRUE(m_api.CreateKey(HKEY_LOCAL_MACHINE, history));
    m_api.SetValue(HKEY_LOCAL_MACHINE, history, "20261205140709", REG_SZ, std::string("q"));
    EXPECT_EQ(regText(m_api.QueryValue(HKEY_LOCAL_MACHINE, history, "20261205140709", REG_SZ)),
              "q");
}

TEST_F(RegistryApiTest, CreateKeyFailureRaisesTheRegistryError) {
    writeFile("this is not a registry file\r\n");
    try {
        m_api.CreateKey(HKEY_LOCAL_MACHINE, kKey);
        FAIL() << "a key was created in a broken file";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), 1001);
        EXPECT_EQ(e.description(), "Unable to create the registry key");
    }
    EXPECT_EQ(readFile(), "this is not a registry file\r\n");
    EXPECT_THROW(m_api.CreateKey(RegRoot::CurrentUser, kKey), Error);
}

TEST_F(RegistryApiTest, DeleteValueRemovesOnlyThatValue) {
    writeKey("\"A\"=\"1\"\r\n\"B\"=\"2\"\r\n");
    m_api.DeleteValue(HKEY_LOCAL_MACHINE, kKey, "a");
    m_api.DeleteValue(HKEY_LOCAL_MACHINE, kKey, "Missing");
    m_api.DeleteValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Absent", "B");
    const RegValueTable table = m_api.EnumValues(HKEY_LOCAL_MACHINE, kKey);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table.names[0], "B");
}

TEST_F(RegistryApiTest, NamesCompareWithoutLetterCaseAndKeepTheirSpelling) {
    writeFile(kHeader +
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel]\r\n\"Version Number\"=dword:00040000\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ämbrel]\r\n\"Ölpreis\"=\"1\"\r\n");
    EXPECT_EQ(m_api.QueryValue(HKEY_LOCAL_MACHINE, "software\\AMBREL", "VERSION number", REG_DWORD),
              RegVariant(0x40000));
    EXPECT_EQ(regText(m_api.QueryValue(HKEY_LOCAL_MACHINE, "software\\äMBREL", "ölPREIS", REG_SZ)),
              "1");
    m_api.SetValue(HKEY_LOCAL_MACHINE, "Software\\ambrel", "version NUMBER", REG_DWORD, 5);
    const RegValueTable table = m_api.EnumValues(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ambrel");
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table.names[0], "Version Number");
    EXPECT_EQ(table.data[0], RegVariant(5));
    EXPECT_NE(readFile().find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel]\r\n"), std::string::npos);
}

TEST_F(RegistryApiTest, SubKeyPathsTolerateStrayBackslashes) {
    writeFile(kHeader + "[HKEY_LOCAL_MACHINE]\r\n\"AtRoot\"=\"r\"\r\n" + kKeyLine +
              "\"Name\"=\"x\"\r\n");
    for (const char *path :
         {"SOFTWARE\\Ambrel\\Test\\", "SOFTWARE\\\\Ambrel\\Test", "\\SOFTWARE\\Ambrel\\Test"}) {
        EXPECT_TRUE(m_api.KeyExists(HKEY_LOCAL_MACHINE, path)) << path;
        EXPECT_EQ(regText(m_api.QueryValue(HKEY_LOCAL_MACHINE, path, "Name", REG_SZ)), "x") << path;
    }
    const RegValueTable root = m_api.EnumValues(HKEY_LOCAL_MACHINE, "");
    ASSERT_EQ(root.size(), 1u);
    EXPECT_EQ(root.names[0], "AtRoot");
    EXPECT_FALSE(m_api.KeyExists(RegRoot::CurrentUser, kKey));
}

// ---- EnumValues -----------------------------------------------------------------------------

TEST_F(RegistryApiTest, EnumeratesManyValuesInFileOrderGrowingTheTable) {
    struct Case {
        int values;
        int growths;
    };
    for (const Case c : {Case{0, 0}, Case{100, 0}, Case{101, 1}, Case{250, 2}}) {
        std::string lines;
        for (int i = 0; i < c.values; ++i) // names not in sorted order, to see the file's order
            lines += "\"v" + std::to_string((i * 7) % c.values) + "_" + std::to_string(i) +
                     "\"=dword:" + std::to_string(i % 10) + "\r\n";
        writeKey(lines);
        const RegValueTable table = m_api.EnumValues(HKEY_LOCAL_MACHINE, kKey);
        ASSERT_EQ(table.size(), static_cast<std::size_t>(c.values));
        EXPECT_EQ(m_api.lastEnumGrowths(), c.growths) << c.values;
        for (int i = 0; i < c.values; ++i) {
            EXPECT_EQ(table.names[i],
                      "v" + std::to_string((i * 7) % c.values) + "_" + std::to_string(i));
            EXPECT_EQ(table.data[i], RegVariant(i % 10));
        }
    }
}

TEST_F(RegistryApiTest, EnumerationGivesDataByStoredType) {
    writeKey("\"Text\"=\"abc\"\r\n"
             "\"Empty\"=\"\"\r\n"
             "@=\"default\"\r\n"
             "\"Number\"=dword:ffffffff\r\n"
             "\"Bytes\"=hex:0a,0b\r\n"
             "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n");
    const RegValueTable table = m_api.EnumValues(HKEY_LOCAL_MACHINE, kKey);
    ASSERT_EQ(table.size(), 6u);
    EXPECT_EQ(table.names,
              (std::vector<std::string>{"Text", "Empty", "", "Number", "Bytes", "Expand"}));
    EXPECT_EQ(table.data[0], RegVariant(std::string("abc")));
    EXPECT_EQ(table.data[1], RegVariant(std::string()));
    EXPECT_EQ(table.data[2], RegVariant(std::string("default")));
    EXPECT_EQ(table.data[3], RegVariant(-1));
    EXPECT_EQ(table.data[4], RegVariant(Bytes{0x0a, 0x0b}));
    EXPECT_EQ(table.data[5], RegVariant(Bytes{'%', 'A', '%', 0})); // as the ANSI calls give it
}

TEST_F(RegistryApiTest, ANameOrDataThatDoesNotFitEndsTheEnumeration) {
    const std::string longName(260, 'n');
    const std::string fittingName(259, 'f');
    writeKey("\"First\"=\"1\"\r\n\"" + fittingName + "\"=\"2\"\r\n\"" + longName +
             "\"=\"3\"\r\n\"After\"=\"4\"\r\n");
    RegValueTable table = m_api.EnumValues(HKEY_LOCAL_MACHINE, kKey);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table.names[1], fittingName);

    std::string big = "00";
    for (int i = 1; i < 4097; ++i)
        big += ",00";
    writeKey("\"First\"=\"1\"\r\n\"Big\"=hex:" + big + "\r\n\"After\"=\"4\"\r\n");
    table = m_api.EnumValues(HKEY_LOCAL_MACHINE, kKey);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table.names[0], "First");
}

TEST_F(RegistryApiTest, AKeyWithoutValuesGivesTheEmptyResult) {
    writeFile(kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Test\\Child]\r\n\"x\"=\"1\"\r\n");
    EXPECT_TRUE(m_api.KeyExists(HKEY_LOCAL_MACHINE, kKey)); // an implied parent
    EXPECT_TRUE(m_api.EnumValues(HKEY_LOCAL_MACHINE, kKey).empty());
    EXPECT_TRUE(m_api.EnumValues(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing").empty());
    // Storing into the implied parent gives it its own section, before its child.
    m_api.SetValue(HKEY_LOCAL_MACHINE, kKey, "Mine", REG_SZ, std::string("v"));
    const std::string file = readFile();
    EXPECT_LT(file.find(kKeyLine), file.find("Test\\Child]"));
    EXPECT_EQ(m_api.EnumValues(HKEY_LOCAL_MACHINE, kKey).names, std::vector<std::string>{"Mine"});
}

// ---- the file -------------------------------------------------------------------------------

TEST_F(RegistryApiTest, ReadsUtf16FilesWithByteOrderMark) {
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Test\\Größe]\r\n"
                                u"\"Name\"=\"Ωmega \U0001F600\"\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    writeFile(bytes);
    EXPECT_EQ(regText(m_api.QueryValue(HKEY_LOCAL_MACHINE, kKey + "\\GRÖSSE", "name", REG_SZ)), "");
    EXPECT_EQ(regText(m_api.QueryValue(HKEY_LOCAL_MACHINE, kKey + "\\GRÖßE", "name", REG_SZ)),
              "Ωmega \U0001F600");
    EXPECT_TRUE(m_notices.empty());
    // A change is written back as UTF-8.
    m_api.SetValue(HKEY_LOCAL_MACHINE, kKey + "\\Größe", "Added", REG_DWORD, 1);
    EXPECT_EQ(readFile().rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u);
    EXPECT_NE(readFile().find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Test\\Größe]"),
              std::string::npos);
}

TEST_F(RegistryApiTest, HandEditsCountFromTheNextCall) {
    writeKey("\"Name\"=\"before\"\r\n");
    EXPECT_EQ(regText(text("Name")), "before");
    writeKey("\"Name\"=\"after\"\r\n");
    EXPECT_EQ(regText(text("Name")), "after");
}

TEST_F(RegistryApiTest, OddKeyAndValueNamesRoundTrip) {
    const std::string odd = "SOFTWARE\\[odd] \"key\";\\Zürich ]\\-dash";
    writeFile(kHeader);
    EXPECT_FALSE(m_api.CreateKey(HKEY_LOCAL_MACHINE, odd));
    m_api.SetValue(HKEY_LOCAL_MACHINE, odd, "a \"quoted\" \\ name", REG_SZ,
                   std::string("C:\\Pradix\\ \"x\""));
    m_api.SetValue(HKEY_LOCAL_MACHINE, odd, "@", REG_SZ, std::string("at"));
    m_api.SetValue(HKEY_LOCAL_MACHINE, odd, "", REG_SZ, std::string("default"));
    // A second registry over the same file reads what the first wrote.
    auto again = sim::makeFileRegistry(m_path, nullptr);
    RegistryAPI other(*again);
    EXPECT_TRUE(other.KeyExists(HKEY_LOCAL_MACHINE, odd));
    const RegValueTable table = other.EnumValues(HKEY_LOCAL_MACHINE, odd);
    EXPECT_EQ(table.names, (std::vector<std::string>{"a \"quoted\" \\ name", "@", ""}));
    EXPECT_EQ(regText(table.data[0]), "C:\\Pradix\\ \"x\"");
    EXPECT_EQ(regText(table.data[1]), "at");
    EXPECT_EQ(regText(table.data[2]), "default");
    EXPECT_TRUE(m_notices.empty());
}

TEST_F(RegistryApiTest, NamesTheFileCannotHoldAreRefused) {
    writeKey("");
    const std::string before = readFile();
    m_api.SetValue(HKEY_LOCAL_MACHINE, kKey, "two\nlines", REG_SZ, std::string("x"));
    m_api.SetValue(HKEY_LOCAL_MACHINE, kKey, "bad \xFF utf8", REG_SZ, std::string("x"));
    EXPECT_EQ(readFile(), before);
    EXPECT_THROW(m_api.CreateKey(HKEY_LOCAL_MACHINE, kKey + "\\a\nb"), Error);
    EXPECT_THROW(m_api.CreateKey(HKEY_LOCAL_MACHINE, kKey + "\\" + std::string(256, 'k')), Error);
    EXPECT_FALSE(m_api.CreateKey(HKEY_LOCAL_MACHINE, kKey + "\\" + std::string(255, 'k')));
}

TEST_F(RegistryApiTest, AFailedWriteLeavesTheOldFileIntact) {
    writeKey("\"Name\"=\"old\"\r\n");
    const std::string before = readFile();
    // The new file cannot be made: a folder stands where it would go.
    fs::create_directories(m_path + ".new/blocker");
    m_api.SetValue(HKEY_LOCAL_MACHINE, kKey, "Name", REG_SZ, std::string("new"));
    m_api.DeleteValue(HKEY_LOCAL_MACHINE, kKey, "Name");
    EXPECT_THROW(m_api.CreateKey(HKEY_LOCAL_MACHINE, kKey + "\\New"), Error);
    EXPECT_EQ(readFile(), before);
    EXPECT_EQ(regText(text("Name")), "old");
    ASSERT_FALSE(m_notices.empty());
    EXPECT_NE(m_notices.back().find(m_path), std::string::npos) << m_notices.back();
}

struct Malformed {
    const char *what;
    std::string content;
    int line;
};

class MalformedFileTest : public RegistryApiTest,
                          public ::testing::WithParamInterface<Malformed> {};

TEST_P(MalformedFileTest, BehavesAsCannotOpenAndNamesFileAndLine) {
    const Malformed &m = GetParam();
    writeFile(m.content);
    EXPECT_FALSE(m_api.KeyExists(HKEY_LOCAL_MACHINE, kKey));
    EXPECT_FALSE(m_api.KeyExists(HKEY_LOCAL_MACHINE, ""));
    EXPECT_EQ(text("Name", std::string("default")), RegVariant(std::string("default")));
    EXPECT_TRUE(m_api.EnumValues(HKEY_LOCAL_MACHINE, kKey).empty());
    m_api.SetValue(HKEY_LOCAL_MACHINE, kKey, "Name", REG_SZ, std::string("new"));
    m_api.DeleteValue(HKEY_LOCAL_MACHINE, kKey, "Name");
    EXPECT_THROW(m_api.CreateKey(HKEY_LOCAL_MACHINE, kKey), Error);
    EXPECT_EQ(readFile(), m.content);
    EXPECT_FALSE(fs::exists(m_path + ".new"));

    ASSERT_FALSE(m_notices.empty());
    const std::string &notice = m_notices.front();
    EXPECT_NE(notice.find(m_path), std::string::npos) << notice;
    EXPECT_NE(notice.find("line " + std::to_string(m.line) + ":"), std::string::npos) << notice;
}

INSTANTIATE_TEST_SUITE_P(
    Registry, MalformedFileTest,
    ::testing::Values(
        Malformed{"BadLine", kHeader + kKeyLine + "\"Name\"=\"x\"\r\nName=x\r\n", 5},
        Malformed{"NoHeader", "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n", 1},
        Malformed{"EmptyFile", "", 1},
        Malformed{"OtherRoot", kHeader + "[HKEY_CURRENT_USER\\Software]\r\n", 3},
        Malformed{"KeyDeletion", kHeader + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel]\r\n", 3},
        Malformed{"ValueDeletion", kHeader + kKeyLine + "\"Name\"=-\r\n", 4},
        Malformed{"ValueBeforeKey", kHeader + "\"Name\"=\"x\"\r\n", 3},
        Malformed{"BadEscape", kHeader + kKeyLine + "\"Path\"=\"C:\\Temp\"\r\n", 4},
        Malformed{"Unterminated", kHeader + kKeyLine + "\"Path\"=\"open\r\n", 4},
        Malformed{"BadDword", kHeader + kKeyLine + "\"N\"=dword:123456789\r\n", 4},
        Malformed{"BadHex", kHeader + kKeyLine + "\"B\"=hex:01,2g\r\n", 4},
        Malformed{"HexPastEnd", kHeader + kKeyLine + "\"B\"=hex:01,\\\r\n", 4},
        Malformed{"HexContinued", kHeader + kKeyLine + "\"B\"=hex:01,\\\r\n  02,zz\r\n", 5},
        Malformed{"NotUtf8", kHeader + kKeyLine + "\"Name\"=\"caf\xE9\"\r\n", 4},
        Malformed{"KeyWithoutBracket", kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\r\n", 3}),
    [](const ::testing::TestParamInfo<Malformed> &param) { return param.param.what; });

TEST_F(RegistryApiTest, AnUnreadableFileIsReportedAndNeverOverwritten) {
    fs::create_directories(m_path); // a folder where the file should be
    EXPECT_FALSE(m_api.KeyExists(HKEY_LOCAL_MACHINE, ""));
    EXPECT_THROW(m_api.CreateKey(HKEY_LOCAL_MACHINE, kKey), Error);
    EXPECT_TRUE(fs::is_directory(m_path));
    ASSERT_FALSE(m_notices.empty());
    EXPECT_NE(m_notices.front().find(m_path), std::string::npos);
}

} // namespace
