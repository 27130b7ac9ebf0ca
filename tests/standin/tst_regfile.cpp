// The stand-in's files: the registry file's text format and conversions, and its settings.
#include "standin/RegFile.h"
#include "standin/SimSettings.h"
#include "support/TempHost.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace zeph::sim::regfile;

namespace {

using Bytes = std::vector<std::uint8_t>;
const std::string kHeader = "Windows Registry Editor Version 5.00\r\n";

Document parsed(const std::string &text) {
    Document doc;
    ParseError error;
    EXPECT_TRUE(parse(text, doc, error)) << "line " << error.line << ": " << error.message;
    return doc;
}

std::string utf16(const std::u16string &s) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : s)
        bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return bytes;
}

TEST(RegFile, WritesTheCanonicalFormReadsItBackAndConvertsText) {
    Document doc;
    Key &key = doc.section("SOFTWARE\\Ambrel");
    key.setValue("Version Number", 4, {0x00, 0x00, 0x04, 0x00});
    key.setValue("", 1, utf8ToUtf16le(std::string("a \"b\" \\c\0", 9)));
    key.setValue("Odd", 1, {'a', 0}); // text without a terminating zero
    Bytes blob;
    for (int i = 0; i < 300; ++i)
        blob.push_back(static_cast<std::uint8_t>(i));
    doc.section("K").setValue("Blob", 3, blob);
    doc.section("");
    const std::string text = write(doc);
    EXPECT_EQ(text.substr(0, text.find("\"Blob\"")),
              kHeader + "\r\n"
                        "[HKEY_LOCAL_MACHINE]\r\n" // a parent goes first
                        "\r\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel]\r\n"
                        "\"Version Number\"=dword:00040000\r\n"
                        "@=\"a \\\"b\\\" \\\\c\"\r\n"
                        "\"Odd\"=hex(1):61,00\r\n"
                        "\r\n"
                        "[HKEY_LOCAL_MACHINE\\K]\r\n");
    for (std::size_t start = 0, end; start < text.size(); start = end + 2)
        EXPECT_LE((end = text.find("\r\n", start)) - start, 80u) << "long hex data is wrapped";
    Document back = parsed(text);
    EXPECT_EQ(back.findKey("k")->findValue("BLOB")->data, blob);
    EXPECT_EQ(write(back), text);
    // The text conversions and the ANSI view; names fold case beyond Latin.
    EXPECT_EQ(utf8ToUtf16le("A\xC3\xA9\xF0\x9F\x98\x80\xFF"),
              (Bytes{'A', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 0xFD, 0xFF}));
    const Bytes units{'A', 0, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8, 'x'};
    EXPECT_EQ(utf16leToUtf8(units.data(), units.size()),
              "A\xF0\x9F\x98\x80\xEF\xBF\xBD"); // lone surrogate replaced, odd byte dropped
    EXPECT_EQ(ansiData({"t", 1, utf8ToUtf16le(std::string("\xC3\xA9\0", 3)), {}}),
              (Bytes{0xC3, 0xA9, 0}));
    EXPECT_EQ(storedData(1, {0xC3, 0xA9, 0}), (Bytes{0xE9, 0, 0, 0}));
    EXPECT_TRUE(namesEqual("ÄÖÜ Straße ΣΩ Дом", "äöü STRAßE σω дом") &&
                isWithin("A\\B\\C", "a\\b") && !isWithin("A\\BC", "A\\B"));
}

TEST(RegFile, ReadsWhatRegeditWritesMergesKeysAndValuesAndNamesTheLineOfAnError) {
    Document doc = parsed("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n"
                          "; exported by hand\n"
                          "[hkey_local_machine\\SOFTWARE\\Ambrel\\\\Pradix\\1.0\\]\n"
                          "\"Root Path\" = \"C:\\\\Pradix\\\\\"   \n"
                          "\"Expand\"=hex(2):25,00,53,00,79,00,73,00,25,00,\\\n  00,00\n"
                          "\"Num\"=DWORD:A\n"
                          "[HKEY_LOCAL_MACHINE\\B\\C]\n"
                          "[HKEY_LOCAL_MACHINE\\software\\ambrel\\pradix\\1.0]\n"
                          "\"root path\"=\"3\"\n");
    ASSERT_EQ(doc.keys.size(), 2u);
    const Key &key = doc.keys[0];
    EXPECT_EQ(key.path, "SOFTWARE\\Ambrel\\Pradix\\1.0");
    ASSERT_EQ(key.values.size(), 3u);
    EXPECT_EQ(key.values[0].name, "Root Path");
    EXPECT_EQ(ansiData(key.values[0]), (Bytes{'3', 0}));
    EXPECT_EQ(key.values[1].type, 2u);
    EXPECT_EQ(ansiData(key.values[1]), (Bytes{'%', 'S', 'y', 's', '%', 0}));
    EXPECT_EQ(key.values[2].data, (Bytes{10, 0, 0, 0}));
    EXPECT_TRUE(doc.keyExists("b")); // implied, without a section of its own
    EXPECT_FALSE(doc.keyExists("BC"));

    const std::string comments = kHeader + "\r\n; the server's own keys\r\n[HKEY_LOCAL_MACHINE\\A]"
                                           "\r\n; why this value is here\r\n\"X\"=\"1\"\r\n\r\n"
                                           "; end of file\r\n";
    EXPECT_EQ(write(parsed(comments)), comments);
    const std::tuple<std::string, int, const char *> cases[] = {
        {"\xFE\xFFWindows", 1, "big-endian"},
        {"\r\n\r\n" + kHeader + "[HKEY_USERS\\x]", 4, "HKEY_LOCAL_MACHINE"},
        {utf16(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\A\xD800]\r\n"), 3,
         ""},
        {utf16(u"Windows Registry Editor Version 5.00\r\n") + "x", 2, ""}, // an odd byte
    };
    for (const auto &[text, line, words] : cases) {
        Document bad;
        ParseError error;
        EXPECT_FALSE(parse(text, bad, error) || !bad.keys.empty()) << text;
        EXPECT_EQ(error.line, line) << error.message;
        EXPECT_NE(error.message.find(words), std::string::npos) << error.message;
    }
}

TEST(SimSettings, RefuseBadInputAndSurviveSaveAndLoad) {
    zeph::sim::SimSettings s;
    EXPECT_FALSE(s.set("directory-synch", "ok"));
    EXPECT_FALSE(s.set("directory-sync", "maybe"));
    EXPECT_EQ(s.get("directory-sync"), "ok");
    ASSERT_TRUE(s.set("service.fennix", "1"));
    ASSERT_TRUE(s.set("virtual-time", "on"));
    zeph::test::TempFolder dir;
    const zeph::Status saved = s.save(dir.path());
    ASSERT_TRUE(saved) << saved.error();
    std::ofstream(zeph::sim::settingsPath(dir.path()), std::ios::app)
        << "garbage line\nscm-access=maybe\n";
    std::vector<std::string> problems;
    const auto loaded = zeph::sim::SimSettings::load(dir.path(), &problems);
    EXPECT_EQ(loaded.get("virtual-time") + loaded.get("service.Fennix") + loaded.get("scm-access"),
              "on1full");
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].find("line 4"), std::string::npos) << problems[0];
}

} // namespace
