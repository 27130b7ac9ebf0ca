// The registry file's text format: reading, writing and the text conversions.
#include "platform/sim/RegFile.h"
#include "support/TempHost.h"

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

TEST(RegFile, WritesTheCanonicalForm) {
    Document doc;
    Key &key = doc.section("SOFTWARE\\Ambrel");
    key.setValue("Version Number", 4, {0x00, 0x00, 0x04, 0x00});
    key.setValue("", 1, utf8ToUtf16le(std::string("a \"b\" \\c\0", 9)));
    key.setValue("Bin", 3, {0x01, 0xab});
    key.setValue("Empty", 3, {});
    key.setValue("Multi", 7, {'a', 0, 0, 0, 0, 0});
    key.setValue("Odd", 1, {'a', 0}); // text without a terminating zero
    doc.section("");
    EXPECT_EQ(write(doc), kHeader + "\r\n"
                                    "[HKEY_LOCAL_MACHINE]\r\n" // a parent goes before its keys
                                    "\r\n"
                                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ambrel]\r\n"
                                    "\"Version Number\"=dword:00040000\r\n"
                                    "@=\"a \\\"b\\\" \\\\c\"\r\n"
                                    "\"Bin\"=hex:01,ab\r\n"
                                    "\"Empty\"=hex:\r\n"
                                    "\"Multi\"=hex(7):61,00,00,00,00,00\r\n"
                                    "\"Odd\"=hex(1):61,00\r\n"
                                    "\r\n");
}

TEST(RegFile, LongHexDataIsWrappedAndReadBack) {
    Document doc;
    Bytes data;
    for (int i = 0; i < 300; ++i)
        data.push_back(static_cast<std::uint8_t>(i));
    doc.section("K").setValue("Blob", 3, data);
    const std::string text = write(doc);
    for (std::size_t start = 0, end; start < text.size(); start = end + 2) {
        end = text.find("\r\n", start);
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    }
    Document back = parsed(text);
    ASSERT_NE(back.findKey("k"), nullptr);
    EXPECT_EQ(back.findKey("k")->findValue("BLOB")->data, data);
    EXPECT_EQ(write(back), text);
}

TEST(RegFile, ReadsWhatRegeditWrites) {
    Document doc = parsed("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n"
                          "; exported by hand\n"
                          "[hkey_local_machine\\SOFTWARE\\Ambrel\\\\Pradix\\1.0\\]\n"
                          "\"Root Path\" = \"C:\\\\Pradix\\\\\"   \n"
                          "\"Expand\"=hex(2):25,00,53,00,79,00,73,00,25,00,\\\n  00,00\n"
                          "\"Num\"=DWORD:A\n"
                          "\"Trailing\"=hex:01,02,\n"
                          "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\n");
    ASSERT_EQ(doc.keys.size(), 1u);
    const Key &key = doc.keys[0];
    EXPECT_EQ(key.path, "SOFTWARE\\Ambrel\\Pradix\\1.0");
    EXPECT_EQ(key.comments, std::vector<std::string>{"; exported by hand"});
    ASSERT_EQ(key.values.size(), 5u);
    EXPECT_EQ(ansiData(key.values[0]),
              (Bytes{'C', ':', '\\', 'P', 'r', 'a', 'd', 'i', 'x', '\\', 0}));
    EXPECT_EQ(key.values[1].type, 2u);
    EXPECT_EQ(ansiData(key.values[1]), (Bytes{'%', 'S', 'y', 's', '%', 0}));
    EXPECT_EQ(key.values[2].data, (Bytes{10, 0, 0, 0}));
    EXPECT_EQ(key.values[3].data, (Bytes{1, 2}));
    EXPECT_EQ(key.values[4].type, 0xbu);
}

TEST(RegFile, KeysAndValuesMergeAndKeepTheirFirstSpelling) {
    Document doc = parsed(kHeader + "[HKEY_LOCAL_MACHINE\\A]\r\n\"X\"=\"1\"\r\n\"Y\"=\"2\"\r\n"
                                    "[HKEY_LOCAL_MACHINE\\B\\C]\r\n"
                                    "[HKEY_LOCAL_MACHINE\\a]\r\n\"x\"=\"3\"\r\n\"Z\"=\"4\"\r\n");
    ASSERT_EQ(doc.keys.size(), 2u);
    const Key &a = doc.keys[0];
    EXPECT_EQ(a.path, "A");
    ASSERT_EQ(a.values.size(), 3u);
    EXPECT_EQ(a.values[0].name, "X");
    EXPECT_EQ(ansiData(a.values[0]), (Bytes{'3', 0}));
    EXPECT_TRUE(doc.keyExists("B\\c"));
    EXPECT_TRUE(doc.keyExists("b")); // implied, without a section of its own
    EXPECT_EQ(doc.findKey("B"), nullptr);
    EXPECT_FALSE(doc.keyExists("BC"));
}

TEST(RegFile, CommentsSurviveARewrite) {
    const std::string text = kHeader + "\r\n; the server's own keys\r\n[HKEY_LOCAL_MACHINE\\A]\r\n"
                                       "; why this value is here\r\n\"X\"=\"1\"\r\n\r\n"
                                       "; end of file\r\n";
    EXPECT_EQ(write(parsed(text)), text);
}

TEST(RegFile, ErrorsNameTheLine) {
    auto utf16 = [](const std::u16string &s) {
        std::string bytes = "\xFF\xFE";
        for (char16_t c : s)
            bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        return bytes;
    };
    const std::string key = kHeader + "[HKEY_LOCAL_MACHINE\\A]\r\n";
    struct Case {
        std::string text;
        int line;
        const char *words;
    };
    const Case cases[] = {
        {"\xFE\xFFWindows", 1, "big-endian"},
        {"REGEDIT4\r\n", 1, "must begin"},
        {"\r\n\r\n" + kHeader + "[HKEY_USERS\\x]", 4, "HKEY_LOCAL_MACHINE"},
        {key + "\"x\"=hex(zz):00", 3, "hex("},
        {key + "\"x\"=\"1\" junk", 3, "after the closing quote"},
        {key + "\"x\" \"1\"", 3, "expected ="},
        {key + "\"x\"=hex:0102", 3, "two hexadecimal digits"},
        {utf16(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\A\xD800]\r\n"), 3,
         ""},
        {utf16(u"Windows Registry Editor Version 5.00\r\n") + "x", 2, ""}, // an odd byte
    };
    for (const auto &c : cases) {
        Document doc;
        ParseError error;
        EXPECT_FALSE(parse(c.text, doc, error)) << c.text;
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_NE(error.message.find(c.words), std::string::npos) << error.message;
        EXPECT_TRUE(doc.keys.empty());
    }
}

TEST(RegFile, TextConversionsMatchTheAnsiView) {
    EXPECT_EQ(utf8ToUtf16le("A\xC3\xA9\xF0\x9F\x98\x80"),
              (Bytes{'A', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE}));
    EXPECT_EQ(utf8ToUtf16le("\xFF"), (Bytes{0xFD, 0xFF}));
    const Bytes units{'A', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8, 'x'};
    EXPECT_EQ(utf16leToUtf8(units.data(), units.size()),
              "A\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD"); // lone surrogate replaced, odd byte dropped
    Value text{"t", 1, utf8ToUtf16le(std::string("\xC3\xA9\0", 3)), {}};
    EXPECT_EQ(ansiData(text), (Bytes{0xC3, 0xA9, 0}));
    EXPECT_EQ(storedData(1, {0xC3, 0xA9, 0}), (Bytes{0xE9, 0, 0, 0}));
    EXPECT_EQ(storedData(3, {0xC3, 0xA9, 0}), (Bytes{0xC3, 0xA9, 0}));
}

TEST(RegFile, NamesFoldCaseBeyondLatinAndKeysNestOnlyAtBackslashes) {
    EXPECT_TRUE(namesEqual("ÄÖÜ Straße ΣΩ Дом", "äöü STRAßE σω дом"));
    EXPECT_TRUE(isWithin("A\\B\\C", "a\\b"));
    EXPECT_FALSE(isWithin("A\\BC", "A\\B"));
}

TEST(RegFile, ANewHostsRegistryIsReadAndWrittenBackUnchanged) {
    zeph::test::TempHost host(0);
    const std::string text = host.readFile("registry.reg");
    EXPECT_EQ(write(parsed(text)), text);
}

} // namespace
