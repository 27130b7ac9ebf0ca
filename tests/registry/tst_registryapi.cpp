// The registry operations over the stand-in host's registry file.
#include "app/registry/RegistryAPI.h"
#include "platform/Error.h"
#include "platform/sim/FileRegistry.h"
#include "support/ErrorOf.h"
#include "support/TempHost.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;
using namespace zeph;
using Bytes = std::vector<std::uint8_t>;

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kKey = "SOFTWARE\\Ambrel\\Test";
const std::string kKeyLine = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Test]\r\n";
const auto HKLM = HKEY_LOCAL_MACHINE;

class RegistryApiTest : public ::testing::Test {
protected:
    void writeFile(const std::string &content) {
        std::ofstream(m_path, std::ios::binary | std::ios::trunc) << content;
    }
    std::string readFile() const {
        std::ostringstream s;
        s << std::ifstream(m_path, std::ios::binary).rdbuf();
        return s.str();
    }
    // A file holding the test key with the given value lines.
    void writeKey(const std::string &valueLines) { writeFile(kHeader + kKeyLine + valueLines); }
    RegVariant query(const std::string &name, int kind = REG_SZ, const RegVariant &dflt = {}) {
        return m_api.QueryValue(HKLM, kKey, name, kind, dflt);
    }

    test::TempFolder m_dir;
    std::string m_path = m_dir.path() + "/registry.reg";
    std::vector<std::string> m_notices;
    std::unique_ptr<IRegistry> m_registry =
        sim::makeFileRegistry(m_path, [this](const std::string &t) { m_notices.push_back(t); });
    RegistryAPI m_api{*m_registry};
};

TEST_F(RegistryApiTest, QueryGivesTheDefaultOnlyForWhatIsMissing) {
    const RegVariant dflt = std::string("fallback");
    EXPECT_EQ(query("Name", REG_SZ, dflt), dflt);
    EXPECT_FALSE(fs::exists(m_path)) << "reading never creates the file";
    writeKey("\"Empty\"=\"\"\r\n\"Name\"=\"before\"\r\n");
    EXPECT_EQ(query("Empty", REG_SZ, dflt), RegVariant(std::string()));
    EXPECT_EQ(query("Missing", REG_SZ, dflt), dflt);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(query("Missing")));
    EXPECT_EQ(m_api.QueryValue(HKLM, "SOFTWARE\\Other", "Name", REG_DWORD, 7), RegVariant(7));
    EXPECT_EQ(regText(query("Name")), "before");
    writeKey("\"Name\"=\"after\"\r\n"); // a hand edit counts from the next call
    EXPECT_EQ(regText(query("Name")), "after");
    EXPECT_TRUE(m_notices.empty());
}

TEST_F(RegistryApiTest, UnsupportedKindRaisesOnlyOnceTheKeyIsOpen) {
    writeKey("\"Name\"=\"x\"\r\n");
    const Error e = test::errorOf([&] { query("Name", 2); });
    EXPECT_EQ(e.number(), 1001);
    EXPECT_EQ(e.description(), "Unsupported value type");
    EXPECT_EQ(m_api.QueryValue(HKLM, "SOFTWARE\\Nowhere", "Name", 2, 5), RegVariant(5));
}

TEST_F(RegistryApiTest, DataMustFitItsBuffer) {
    auto hexOf = [](std::size_t n) {
        std::string list = "00";
        for (std::size_t i = 1; i < n; ++i)
            list += ",0" + std::to_string(i % 10);
        return list;
    };
    writeKey("\"T1023\"=\"" + std::string(1023, 'a') + "\"\r\n\"T1024\"=\"" +
             std::string(1024, 'a') + "\"\r\n\"U1023\"=\"" + std::string(1021, 'a') +
             "\xC3\xA9\"\r\n\"U1024\"=\"" + std::string(1022, 'a') + "\xC3\xA9\"\r\n" +
             "\"B4096\"=hex:" + hexOf(4096) + "\r\n\"B4097\"=hex:" + hexOf(4097) + "\r\n");
    const RegVariant dflt = std::string("default");
    // Text needs room for its terminating zero; UTF-8 counts in bytes.
    EXPECT_EQ(regText(query("T1023", REG_SZ, dflt)).size(), 1023u);
    EXPECT_EQ(query("T1024", REG_SZ, dflt), dflt);
    EXPECT_EQ(regText(query("U1023", REG_SZ, dflt)).size(), 1023u);
    EXPECT_EQ(query("U1024", REG_SZ, dflt), dflt);
    const RegVariant fits = query("B4096", REG_BINARY);
    ASSERT_TRUE(std::holds_alternative<Bytes>(fits));
    EXPECT_EQ(std::get<Bytes>(fits).size(), 4096u);
    EXPECT_EQ(std::get<Bytes>(fits)[9], 0x09);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(query("B4097", REG_BINARY)));
}

TEST_F(RegistryApiTest, StoredTypeIsNotComparedWithTheKindAsked) {
    writeKey("\"Number\"=dword:0000002a\r\n\"Text\"=\"4\"\r\n\"Short\"=hex:01,02\r\n"
             "\"Wide\"=hex:01,02,03,04,05\r\n");
    const RegVariant dflt = std::string("default");
    EXPECT_EQ(query("Number", REG_BINARY), RegVariant(Bytes{0x2a, 0, 0, 0}));
    EXPECT_EQ(query("Number", REG_SZ), RegVariant(std::string("*\0\0", 3))); // less one byte
    EXPECT_EQ(query("Text", REG_DWORD), RegVariant(0x34));                   // "4" and its zero
    EXPECT_EQ(query("Short", REG_DWORD), RegVariant(0x0201));
    EXPECT_EQ(query("Wide", REG_DWORD, dflt), dflt); // a 4-byte buffer
}

TEST_F(RegistryApiTest, SetValueStoresEachKindInExistingKeysOnly) {
    writeKey("");
    const std::string before = readFile();
    m_api.SetValue(HKLM, "SOFTWARE\\Ambrel\\Absent", "Name", REG_SZ, std::string("y"));
    EXPECT_EQ(readFile(), before);
    EXPECT_FALSE(m_api.KeyExists(HKLM, "SOFTWARE\\Ambrel\\Absent"));

    m_api.SetValue(HKLM, kKey, "Text", REG_SZ, std::string("two\r\nlines"));
    m_api.SetValue(HKLM, kKey, "FromNumber", REG_SZ, 12);
    m_api.SetValue(HKLM, kKey, "Bytes", REG_BINARY, Bytes{0, 255, 7});
    m_api.SetValue(HKLM, kKey, "Number", REG_DWORD, -2);
    m_api.SetValue(HKLM, kKey, "NumberText", REG_DWORD, std::string("77"));
    m_api.SetValue(HKLM, kKey, "Other", 2, std::string("not stored"));
    EXPECT_EQ(query("Text"), RegVariant(std::string("two\r\nlines")));
    EXPECT_EQ(query("FromNumber"), RegVariant(std::string("12")));
    EXPECT_EQ(query("Bytes", REG_BINARY), RegVariant(Bytes{0, 255, 7}));
    EXPECT_EQ(query("Number", REG_DWORD), RegVariant(-2));
    EXPECT_EQ(query("NumberText", REG_DWORD), RegVariant(77));
    EXPECT_EQ(m_api.EnumValues(HKLM, kKey).size(), 5u);
    EXPECT_NE(readFile().find("\"Number\"=dword:fffffffe\r\n"), std::string::npos);

    m_api.DeleteValue(HKLM, kKey, "text");
    m_api.DeleteValue(HKLM, kKey, "Missing");
    EXPECT_EQ(m_api.EnumValues(HKLM, kKey).size(), 4u);
}

TEST_F(RegistryApiTest, CreateKeyMakesParentsAndSaysWhetherTheKeyExisted) {
    const std::string history =
        "SOFTWARE\\Ambrel\\Brennor\\Administration Tools\\Wystan\\SubQueries";
    EXPECT_FALSE(m_api.CreateKey(HKLM, history)); // the file did not exist
    EXPECT_TRUE(m_api.KeyExists(HKLM, "SOFTWARE\\Ambrel\\Brennor"));
    const std::string before = readFile();
    EXPECT_TRUE(m_api.CreateKey(HKLM, history));
    EXPECT_TRUE(m_api.CreateKey(HKLM, "software\\ambrel")); // an implied parent
    EXPECT_TRUE(m_api.CreateKey(HKLM, ""));                 // the root
    EXPECT_EQ(readFile(), before);

    writeFile("this is not a registry file\r\n");
    const Error e = test::errorOf([&] { m_api.CreateKey(HKLM, kKey); });
    EXPECT_EQ(e.number(), 1001);
    EXPECT_EQ(e.description(), "Unable to create the registry key");
    EXPECT_EQ(readFile(), "this is not a registry file\r\n");
    EXPECT_THROW(m_api.CreateKey(RegRoot::CurrentUser, kKey), Error);
}

TEST_F(RegistryApiTest, NamesCompareWithoutLetterCaseAndKeepTheirSpelling) {
    writeFile(kHeader + "[HKEY_LOCAL_MACHINE]\r\n\"AtRoot\"=\"r\"\r\n" +
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel]\r\n\"Version Number\"=dword:00040000\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ämbrel]\r\n\"Ölpreis\"=\"1\"\r\n");
    EXPECT_EQ(regText(m_api.QueryValue(HKLM, "software\\äMBREL", "ölPREIS", REG_SZ)), "1");
    for (const char *path : {"Software\\ambrel\\", "\\SOFTWARE\\\\AMBREL"})
        EXPECT_EQ(m_api.QueryValue(HKLM, path, "VERSION number", REG_DWORD), RegVariant(0x40000));
    m_api.SetValue(HKLM, "Software\\ambrel", "version NUMBER", REG_DWORD, 5);
    const RegValueTable table = m_api.EnumValues(HKLM, "SOFTWARE\\Ambrel");
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table.names[0], "Version Number");
    EXPECT_EQ(table.data[0], RegVariant(5));
    EXPECT_NE(readFile().find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel]\r\n"), std::string::npos);
    EXPECT_EQ(m_api.EnumValues(HKLM, "").names, std::vector<std::string>{"AtRoot"});
    EXPECT_FALSE(m_api.KeyExists(RegRoot::CurrentUser, "SOFTWARE\\Ambrel"));
}

TEST_F(RegistryApiTest, EnumerationKeepsFileOrderAndStoredTypes) {
    for (int count : {100, 101, 250}) { // the table grows by 100 columns
        std::string lines;
        for (int i = 0; i < count; ++i) // names out of sorted order
            lines += "\"v" + std::to_string((i * 7) % count) + "_" + std::to_string(i) +
                     "\"=dword:" + std::to_string(i % 10) + "\r\n";
        writeKey(lines);
        const RegValueTable table = m_api.EnumValues(HKLM, kKey);
        ASSERT_EQ(table.size(), static_cast<std::size_t>(count));
        EXPECT_EQ(m_api.lastEnumGrowths(), (count - 1) / 100);
        EXPECT_EQ(table.names[count - 1],
                  "v" + std::to_string((count - 1) * 7 % count) + "_" + std::to_string(count - 1));
        EXPECT_EQ(table.data[count - 1], RegVariant((count - 1) % 10));
    }
    writeKey("\"Text\"=\"abc\"\r\n@=\"default\"\r\n\"Number\"=dword:ffffffff\r\n"
             "\"Bytes\"=hex:0a,0b\r\n\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n");
    const RegValueTable table = m_api.EnumValues(HKLM, kKey);
    EXPECT_EQ(table.names, (std::vector<std::string>{"Text", "", "Number", "Bytes", "Expand"}));
    EXPECT_EQ(table.data, (std::vector<RegVariant>{std::string("abc"), std::string("default"), -1,
                                                   Bytes{0x0a, 0x0b}, Bytes{'%', 'A', '%', 0}}));
}

TEST_F(RegistryApiTest, ANameOrDataThatDoesNotFitEndsTheEnumeration) {
    const std::string fittingName(259, 'f');
    writeKey("\"First\"=\"1\"\r\n\"" + fittingName + "\"=\"2\"\r\n\"" + std::string(260, 'n') +
             "\"=\"3\"\r\n\"After\"=\"4\"\r\n");
    EXPECT_EQ(m_api.EnumValues(HKLM, kKey).names, (std::vector<std::string>{"First", fittingName}));
    std::string big = "00";
    for (int i = 1; i < 4097; ++i)
        big += ",00";
    writeKey("\"First\"=\"1\"\r\n\"Big\"=hex:" + big + "\r\n\"After\"=\"4\"\r\n");
    EXPECT_EQ(m_api.EnumValues(HKLM, kKey).names, std::vector<std::string>{"First"});
}

TEST_F(RegistryApiTest, AnImpliedParentGetsItsOwnSectionBeforeItsChild) {
    writeFile(kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Test\\Child]\r\n\"x\"=\"1\"\r\n");
    EXPECT_TRUE(m_api.KeyExists(HKLM, kKey));
    EXPECT_TRUE(m_api.EnumValues(HKLM, kKey).empty());
    m_api.SetValue(HKLM, kKey, "Mine", REG_SZ, std::string("v"));
    const std::string file = readFile();
    EXPECT_LT(file.find(kKeyLine), file.find("Test\\Child]"));
    EXPECT_EQ(m_api.EnumValues(HKLM, kKey).names, std::vector<std::string>{"Mine"});
}

TEST_F(RegistryApiTest, ReadsUtf16FilesAndWritesUtf8) {
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Test\\Größe]\r\n"
                                u"\"Name\"=\"Ωmega \U0001F600\"\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text)
        bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    writeFile(bytes);
    EXPECT_EQ(regText(m_api.QueryValue(HKLM, kKey + "\\GRÖßE", "name", REG_SZ)),
              "Ωmega \U0001F600");
    m_api.SetValue(HKLM, kKey + "\\Größe", "Added", REG_DWORD, 1);
    EXPECT_EQ(readFile().rfind(kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Test\\Größe]", 0),
              0u);
    EXPECT_TRUE(m_notices.empty());
}

TEST_F(RegistryApiTest, OddNamesRoundTripAndNamesTheFileCannotHoldAreRefused) {
    const std::string odd = "SOFTWARE\\[odd] \"key\";\\Zürich ]\\-dash";
    writeFile(kHeader);
    EXPECT_FALSE(m_api.CreateKey(HKLM, odd));
    m_api.SetValue(HKLM, odd, "a \"quoted\" \\ name", REG_SZ, std::string("C:\\Pradix\\ \"x\""));
    m_api.SetValue(HKLM, odd, "@", REG_SZ, std::string("at"));
    m_api.SetValue(HKLM, odd, "", REG_SZ, std::string("default"));
    auto again = sim::makeFileRegistry(m_path, nullptr); // a second reader of the same file
    const RegValueTable table = RegistryAPI(*again).EnumValues(HKLM, odd);
    EXPECT_EQ(table.names, (std::vector<std::string>{"a \"quoted\" \\ name", "@", ""}));
    EXPECT_EQ(table.data, (std::vector<RegVariant>{std::string("C:\\Pradix\\ \"x\""),
                                                   std::string("at"), std::string("default")}));
    EXPECT_TRUE(m_notices.empty());

    const std::string before = readFile();
    m_api.SetValue(HKLM, odd, "two\nlines", REG_SZ, std::string("x"));
    m_api.SetValue(HKLM, odd, "bad \xFF utf8", REG_SZ, std::string("x"));
    EXPECT_EQ(readFile(), before);
    EXPECT_THROW(m_api.CreateKey(HKLM, kKey + "\\a\nb"), Error);
    EXPECT_THROW(m_api.CreateKey(HKLM, kKey + "\\" + std::string(256, 'k')), Error);
    EXPECT_FALSE(m_api.CreateKey(HKLM, kKey + "\\" + std::string(255, 'k')));
}

TEST_F(RegistryApiTest, AFailedWriteLeavesTheOldFileIntact) {
    writeKey("\"Name\"=\"old\"\r\n");
    const std::string before = readFile();
    fs::create_directories(m_path + ".new/blocker"); // the new file cannot be made
    m_api.SetValue(HKLM, kKey, "Name", REG_SZ, std::string("new"));
    m_api.DeleteValue(HKLM, kKey, "Name");
    EXPECT_THROW(m_api.CreateKey(HKLM, kKey + "\\New"), Error);
    EXPECT_EQ(readFile(), before);
    ASSERT_FALSE(m_notices.empty());
    EXPECT_NE(m_notices.back().find(m_path), std::string::npos) << m_notices.back();
}

struct Malformed {
    const char *what;
    std::string content;
    int line; // 0: a folder stands where the file should be
};

class MalformedFileTest : public RegistryApiTest,
                          public ::testing::WithParamInterface<Malformed> {};

TEST_P(MalformedFileTest, BehavesAsCannotOpenAndNamesFileAndLine) {
    const Malformed &m = GetParam();
    m.line ? writeFile(m.content) : void(fs::create_directories(m_path));
    EXPECT_FALSE(m_api.KeyExists(HKLM, ""));
    EXPECT_EQ(query("Name", REG_SZ, 3), RegVariant(3));
    EXPECT_TRUE(m_api.EnumValues(HKLM, kKey).empty());
    m_api.SetValue(HKLM, kKey, "Name", REG_SZ, std::string("new"));
    m_api.DeleteValue(HKLM, kKey, "Name");
    EXPECT_THROW(m_api.CreateKey(HKLM, kKey), Error);
    EXPECT_EQ(readFile(), m.content); // a folder reads as ""
    EXPECT_FALSE(fs::exists(m_path + ".new"));
    ASSERT_FALSE(m_notices.empty());
    const std::string &notice = m_notices.front();
    EXPECT_NE(notice.find(m_path), std::string::npos) << notice;
    EXPECT_TRUE(!m.line || notice.find("line " + std::to_string(m.line) + ":") != std::string::npos)
        << notice;
}

INSTANTIATE_TEST_SUITE_P(
    Registry, MalformedFileTest,
    ::testing::Values(Malformed{"BadLine", kHeader + kKeyLine + "\"Name\"=\"x\"\r\nName=x\r\n", 5},
                      Malformed{"NoHeader", "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n", 1},
                      Malformed{"EmptyFile", "", 1},
                      Malformed{"ValueBeforeKey", kHeader + "\"Name\"=\"x\"\r\n", 3},
                      Malformed{"ValueDeletion", kHeader + kKeyLine + "\"Name\"=-\r\n", 4},
                      Malformed{"BadEscape", kHeader + kKeyLine + "\"P\"=\"C:\\Temp\"\r\n", 4},
                      Malformed{"Unterminated", kHeader + kKeyLine + "\"P\"=\"open\r\n", 4},
                      Malformed{"HexPastEnd", kHeader + kKeyLine + "\"B\"=hex:01,\\\r\n", 4},
                      Malformed{"NoBracket", kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\r\n", 3},
                      Malformed{"OtherRoot", kHeader + "[HKEY_CURRENT_USER\\Software]\r\n", 3},
                      Malformed{"KeyDeletion", kHeader + "[-HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n", 3},
                      Malformed{"BadDword", kHeader + kKeyLine + "\"N\"=dword:123456789\r\n", 4},
                      Malformed{"HexContinued",
                                kHeader + kKeyLine + "\"B\"=hex:01,\\\r\n  02,zz\r\n", 5},
                      Malformed{"NotUtf8", kHeader + kKeyLine + "\"Name\"=\"caf\xE9\"\r\n", 4},
                      Malformed{"AFolder", "", 0}),
    [](const ::testing::TestParamInfo<Malformed> &param) { return param.param.what; });

} // namespace
