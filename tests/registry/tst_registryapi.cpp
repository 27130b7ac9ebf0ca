// The registry operations over the stand-in host's registry file.
#include "app/registry/RegistryAPI.h"
#include "platform/Error.h"
#include "standin/FileRegistry.h"
#include "support/ErrorOf.h"
#include "support/TempHost.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;
using namespace zeph;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kKey = "SOFTWARE\\Ambrel\\Test";
const std::string kKeyLine = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Test]\r\n";
const auto HKLM = HKEY_LOCAL_MACHINE;
const RegVariant kDefault = std::string("default");

class RegistryApiTest : public ::testing::Test {
protected:
    void writeFile(const std::string &content) {
        std::ofstream(m_path, std::ios::binary) << content;
    }
    std::string readFile() const {
        std::ostringstream s;
        s << std::ifstream(m_path, std::ios::binary).rdbuf();
        return s.str();
    }
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

TEST_F(RegistryApiTest, QueryGivesTheDefaultOnlyForWhatIsMissingOrDoesNotFit) {
    EXPECT_EQ(query("Name", REG_SZ, kDefault), kDefault);
    EXPECT_FALSE(fs::exists(m_path)) << "reading never creates the file";
    std::string hex = "00";
    for (int i = 1; i < 4097; ++i)
        hex += ",0" + std::to_string(i % 10);
    writeKey("\"Empty\"=\"\"\r\n\"Name\"=\"before\"\r\n\"T1023\"=\"" + std::string(1023, 'a') +
             "\"\r\n\"T1024\"=\"" + std::string(1024, 'a') + "\"\r\n\"U1024\"=\"" +
             std::string(1022, 'a') + "\xC3\xA9\"\r\n\"B4096\"=hex:" + hex.substr(0, 4096 * 3 - 1) +
             "\r\n\"B4097\"=hex:" + hex + "\r\n\"Number\"=dword:0000002a\r\n\"Text\"=\"4\"\r\n");
    EXPECT_EQ(query("Empty", REG_SZ, kDefault), RegVariant(std::string()));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(query("Missing")));
    // Text needs room for its terminating zero; UTF-8 counts in bytes.
    EXPECT_EQ(regText(query("T1023", REG_SZ, kDefault)).size(), 1023u);
    EXPECT_EQ(query("T1024", REG_SZ, kDefault), kDefault);
    EXPECT_EQ(query("U1024", REG_SZ, kDefault), kDefault);
    EXPECT_EQ(std::get<Bytes>(query("B4096", REG_BINARY)).at(4095), 0x05);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(query("B4097", REG_BINARY)));
    EXPECT_EQ(query("Number", REG_SZ), RegVariant(std::string("*\0\0", 3))); // less one byte
    EXPECT_EQ(query("Text", REG_DWORD), RegVariant(0x34));                   // "4" and its zero
    EXPECT_EQ(query("B4096", REG_DWORD, kDefault), kDefault);                // a 4-byte buffer
    EXPECT_EQ(m_api.EnumValues(HKLM, kKey).names.back(), "B4096") << "B4097 ends the listing";
    writeKey("\"Name\"=\"after\"\r\n"); // a hand edit counts from the next call
    EXPECT_EQ(regText(query("Name")), "after");

    const Error e = test::errorOf([&] { query("Name", 2); });
    EXPECT_EQ(e.number(), 1001);
    EXPECT_EQ(e.description(), "Unsupported value type");
    EXPECT_EQ(m_api.QueryValue(HKLM, "SOFTWARE\\Nowhere", "Name", 2, 5), RegVariant(5));
    EXPECT_TRUE(m_notices.empty());
}

TEST_F(RegistryApiTest, SetValueStoresEachKindInExistingKeysOnly) {
    writeKey("");
    const std::string before = readFile();
    m_api.SetValue(HKLM, "SOFTWARE\\Ambrel\\Absent", "Name", REG_SZ, std::string("y"));
    EXPECT_EQ(readFile(), before);
    m_api.SetValue(HKLM, kKey, "Text", REG_SZ, std::string("two\r\nlines"));
    m_api.SetValue(HKLM, kKey, "FromNumber", REG_SZ, 12);
    m_api.SetValue(HKLM, kKey, "Bytes", REG_BINARY, Bytes{0, 255, 7});
    m_api.SetValue(HKLM, kKey, "Number", REG_DWORD, -2);
    m_api.SetValue(HKLM, kKey, "NumberText", REG_DWORD, std::string("77"));
    m_api.SetValue(HKLM, kKey, "Other", 2, std::string("not stored"));
    m_api.DeleteValue(HKLM, kKey, "fromnumber");
    const RegValueTable table = m_api.EnumValues(HKLM, kKey);
    EXPECT_EQ(table.names, (Names{"Text", "Bytes", "Number", "NumberText"}));
    EXPECT_EQ(table.data,
              (std::vector<RegVariant>{std::string("two\r\nlines"), Bytes{0, 255, 7}, -2, 77}));
    EXPECT_NE(readFile().find("\"Number\"=dword:fffffffe\r\n"), std::string::npos);
}

TEST_F(RegistryApiTest, CreateKeyMakesParentsAndSaysWhetherTheKeyExisted) {
    const std::string history = "SOFTWARE\\Ambrel\\Brennor\\Wystan\\SubQueries";
    EXPECT_FALSE(m_api.CreateKey(HKLM, history)); // the file did not exist
    EXPECT_TRUE(m_api.KeyExists(HKLM, "SOFTWARE\\Ambrel\\Brennor"));
    const std::string before = readFile();
    EXPECT_TRUE(m_api.CreateKey(HKLM, history));
    EXPECT_TRUE(m_api.CreateKey(HKLM, "software\\ambrel")); // an implied parent
    EXPECT_EQ(readFile(), before);
    EXPECT_THROW(m_api.CreateKey(RegRoot::CurrentUser, kKey), Error);

    writeFile("this is not a registry file\r\n");
    const Error e = test::errorOf([&] { m_api.CreateKey(HKLM, kKey); });
    EXPECT_EQ(e.number(), 1001);
    EXPECT_EQ(e.description(), "Unable to create the registry key");
    EXPECT_EQ(readFile(), "this is not a registry file\r\n");
}

TEST_F(RegistryApiTest, NamesCompareWithoutLetterCaseAndKeepTheirSpellingAndFileOrder) {
    writeFile(kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel\\Test\\Child]\r\n\"x\"=\"1\"\r\n" +
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ämbrel]\r\n\"Ölpreis\"=\"1\"\r\n\"b\"=\"2\"\r\n" +
              "@=\"3\"\r\n\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n");
    const RegValueTable table = m_api.EnumValues(HKLM, "software\\\\äMBREL\\");
    EXPECT_EQ(table.names, (Names{"Ölpreis", "b", "", "Expand"}));
    EXPECT_EQ(table.data.back(), RegVariant(Bytes{'%', 'A', '%', 0}));
    m_api.SetValue(HKLM, "\\Software\\ämbrel", "ölPREIS", REG_DWORD, 5);
    EXPECT_NE(readFile().find("\"Ölpreis\"=dword:00000005"), std::string::npos);

    EXPECT_TRUE(m_api.EnumValues(HKLM, kKey).empty());
    m_api.SetValue(HKLM, kKey, "Mine", REG_SZ, std::string("v"));
    const std::string file = readFile();
    EXPECT_LT(file.find(kKeyLine), file.find("Test\\Child]")) << "an implied parent goes first";
    EXPECT_EQ(m_api.EnumValues(HKLM, kKey).names, Names{"Mine"});
}

TEST_F(RegistryApiTest, ANameThatDoesNotFitEndsTheEnumeration) {
    std::string lines;
    for (int i = 0; i < 101; ++i) // more than the table's first 100 columns
        lines += "\"v" + std::to_string((i * 7) % 101) + "\"=dword:00000001\r\n";
    writeKey(lines + "\"" + std::string(259, 'f') + "\"=\"2\"\r\n\"" + std::string(260, 'n') +
             "\"=\"3\"\r\n\"After\"=\"4\"\r\n");
    const Names names = m_api.EnumValues(HKLM, kKey).names;
    ASSERT_EQ(names.size(), 102u);
    EXPECT_EQ(Names(names.begin() + 100, names.end()), (Names{"v94", std::string(259, 'f')}));
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
    EXPECT_EQ(table.names, (Names{"a \"quoted\" \\ name", "@", ""}));
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

TEST_F(RegistryApiTest, AFileThatCannotBeReadOrReplacedIsLeftAsItWasAndNamed) {
    const std::pair<std::string, int> files[] = {
        // the content and the line the notice names (0: a folder stands where the file should)
        {kHeader + kKeyLine + "\"Name\"=\"x\"\r\nName=x\r\n", 5},
        {"", 1},
        {kHeader + kKeyLine + "\"Name\"=-\r\n", 4}, // deletions are refused
        {kHeader + kKeyLine + "\"Name\"=\"caf\xE9\"\r\n", 4},
        {"", 0},
    };
    for (const auto &[content, line] : files) {
        SCOPED_TRACE(content);
        fs::remove_all(m_path);
        m_notices.clear();
        line ? writeFile(content) : void(fs::create_directories(m_path));
        EXPECT_FALSE(m_api.KeyExists(HKLM, ""));
        EXPECT_EQ(query("Name", REG_SZ, 3), RegVariant(3));
        m_api.SetValue(HKLM, kKey, "Name", REG_SZ, std::string("new"));
        m_api.DeleteValue(HKLM, kKey, "Name");
        EXPECT_THROW(m_api.CreateKey(HKLM, kKey), Error);
        EXPECT_EQ(readFile(), content); // a folder reads as ""
        EXPECT_FALSE(fs::exists(m_path + ".new"));
        const std::string notice = m_notices.empty() ? "" : m_notices[0];
        EXPECT_NE(notice.find(m_path), std::string::npos) << notice;
        EXPECT_NE(notice.find(line ? "line " + std::to_string(line) + ":" : ""), std::string::npos);
    }
    // A good file whose replacement cannot be written stays as it was.
    fs::remove_all(m_path);
    writeKey("\"Name\"=\"old\"\r\n");
    fs::create_directories(m_path + ".new/blocker");
    m_api.SetValue(HKLM, kKey, "Name", REG_SZ, std::string("new"));
    EXPECT_THROW(m_api.CreateKey(HKLM, kKey + "\\New"), Error);
    EXPECT_EQ(readFile(), kHeader + kKeyLine + "\"Name\"=\"old\"\r\n");
    EXPECT_NE(m_notices.back().find(m_path), std::string::npos) << m_notices.back();
}

} // namespace
