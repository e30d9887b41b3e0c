// The settings key in its export text form, on every system: what a hand edit may hold
// and what an edit keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/RegistryText.h"

namespace raid {
namespace {

std::string key() { return std::string("[") + kSettingsKey + "]\n"; }

TEST(RegistryText, ValuesOfEveryTypeRoundTrip) {
    std::vector<std::pair<std::string, RegValue>> values = {
        {"Port", RegValue::sz("25")},
        {"UserName", RegValue::sz("Ann \"The Admin\" O\\Neil")},
        {"EMailSend", RegValue::number(0xDEADBEEF)},
        {"ProductID", RegValue::binary({0x00, 0x7f, 0x80, 0xff, 0x12})},
        {"Odd", RegValue::sz(std::string("two\r\nlines\0x", 13))},
        {"Empty", RegValue::binary({})},
    };
    const std::string text = formatRegistryText(values);
    EXPECT_EQ(text.rfind("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QX_RAID_GUI]\n\"Port\"=\"25\"\n", 0), 0u) << text;
    EXPECT_NE(text.find("\"EMailSend\"=dword:deadbeef\n"), std::string::npos);
    EXPECT_NE(text.find("\"ProductID\"=hex:00,7f,80,ff,12\n"), std::string::npos);
    EXPECT_NE(text.find("\"UserName\"=\"Ann \\\"The Admin\\\" O\\\\Neil\"\n"), std::string::npos);
    // Every value on its own line, whatever it holds.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9);
    const RegistryText back = parseRegistryText(text);
    EXPECT_TRUE(back.hasKey);
    EXPECT_TRUE(back.problems.empty());
    ASSERT_EQ(back.values.size(), values.size());
    // A string is kept up to its first zero byte.
    values[4].second = RegValue::sz("two\r\nlines");
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(back.values[i].first, values[i].first);
        EXPECT_TRUE(back.values[i].second == values[i].second) << values[i].first;
    }
}

TEST(RegistryText, WhatAnEditorExportOrAHandEditMayHold) {
    const std::string text =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
        "; written by hand\r\n"
        "[hkey_local_machine\\software\\qx_raid_gui]\r\n"
        "@=\"default\"\r\n"
        "\"ProductID\"=hex:01,02,\\\r\n"
        "  03,04\r\n"
        "\"Count\"=hex(4):0a,00,00,00\r\n"
        "\"Text\"=hex(1):41,42,00,43\r\n"
        "\"Port\"=\"25\"\r\n"
        "\"Port\"=\"587\"\r\n"
        "\"Gone\"=\"x\"\r\n"
        "\"Gone\"=-\r\n"
        "\"Broken\"=dword:123456789\r\n"
        "\"Bad hex\"=hex:1,2\r\n"
        "no equals sign\r\n"
        "\"Unclosed=\"x\r\n"
        "\"Weird\"=hex(7):00\r\n"
        "\"After\"=dword:0000002a\r\n"
        "[HKEY_CURRENT_USER\\Other]\r\n"
        "\"Elsewhere\"=\"y\"\r\n";
    const RegistryText r = parseRegistryText(text);
    EXPECT_TRUE(r.hasKey);
    auto find = [&](const std::string& n) -> const RegValue* {
        for (const auto& e : r.values)
            if (e.first == n) return &e.second;
        return nullptr;
    };
    ASSERT_TRUE(find("ProductID"));
    EXPECT_EQ(find("ProductID")->bytes, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    ASSERT_TRUE(find("Count"));
    EXPECT_EQ(find("Count")->dword, 10u);
    EXPECT_EQ(find("Text")->text, "AB");
    EXPECT_EQ(find("Port")->text, "587");
    EXPECT_EQ(find("Gone"), nullptr);
    EXPECT_EQ(find("Broken"), nullptr);
    EXPECT_EQ(find("After")->dword, 42u);
    EXPECT_EQ(find("Elsewhere"), nullptr);
    // Each broken line is reported with its number; good lines after it are still read.
    ASSERT_EQ(r.problems.size(), 7u);
    EXPECT_EQ(r.problems[0].rfind("line 14: ", 0), 0u) << r.problems[0];
    EXPECT_EQ(r.problems[3].rfind("line 17: ", 0), 0u) << r.problems[3];
    EXPECT_EQ(r.problems[5].rfind("line 20: ", 0), 0u) << r.problems[5];

    const RegistryText noHeader = parseRegistryText(key() + "\"A\"=\"b\"\n");
    ASSERT_EQ(noHeader.problems.size(), 1u);
    EXPECT_NE(noHeader.problems[0].find("REGEDIT4"), std::string::npos);
    EXPECT_EQ(noHeader.values.size(), 1u);
    EXPECT_FALSE(parseRegistryText("REGEDIT4\n").hasKey);
    EXPECT_FALSE(parseRegistryText("").hasKey);
}

// A save edits the file's text: the values it sets change, every other byte stays -
// comments, other keys, earlier lines for the same name and lines it cannot read.
TEST(RegistryText, AnEditChangesItsValuesAndKeepsEveryOtherByte) {
    const std::string head = "\xEF\xBB\xBFREGEDIT4\r\n\r\n; by hand\r\n[hkey_local_machine\\software\\qx_raid_gui]\r\n";
    const std::string text = head +
                             "\"Port\"=\"25\"\r\n"
                             "\"port\"=\"587\"\r\n"
                             "\"Gone\"=-\r\n"
                             "\"Broken\"=dword:123456789\r\n"
                             "\"ProductID\"=hex:01,02,\\\r\n  03\r\n"
                             "not a value line\r\n"
                             "\r\n[HKEY_CURRENT_USER\\Other]\r\n\"Elsewhere\"=\"y\"\r\n";
    const std::string edited = editRegistryText(text, {{"Port", RegValue::sz("2525")},
                                                       {"Gone", RegValue::sz("back")},
                                                       {"Broken", RegValue::number(1)},
                                                       {"ProductID", RegValue::binary({9})},
                                                       {"New", RegValue::sz("n")}});
    EXPECT_EQ(edited, head +
                          "\"Port\"=\"25\"\r\n"
                          "\"port\"=\"2525\"\r\n"
                          "\"Gone\"=\"back\"\r\n"
                          "\"Broken\"=dword:00000001\r\n"
                          "\"ProductID\"=hex:09\r\n"
                          "not a value line\r\n"
                          "\"New\"=\"n\"\r\n"
                          "\r\n[HKEY_CURRENT_USER\\Other]\r\n\"Elsewhere\"=\"y\"\r\n");
    const RegistryText back = parseRegistryText(edited);
    ASSERT_EQ(back.problems.size(), 3u);  // the line that is no value, the other key and its value
    EXPECT_EQ(back.problems[0].rfind("line 10: ", 0), 0u) << back.problems[0];

    // No key yet: its section at the end; only comments: a header first. A last line
    // that continues is ended before anything follows it.
    EXPECT_EQ(editRegistryText("", {{"A", RegValue::sz("b")}}), formatRegistryText({{"A", RegValue::sz("b")}}));
    EXPECT_EQ(editRegistryText("; notes", {{"A", RegValue::sz("b")}}),
              "; notes\nREGEDIT4\n\n" + key() + "\"A\"=\"b\"\n");
    const std::string cont = "REGEDIT4\n" + key() + "\"P\"=hex:01,\\\n  02\\";
    const RegistryText more = parseRegistryText(editRegistryText(cont, {{"A", RegValue::sz("b")}}));
    ASSERT_EQ(more.values.size(), 2u);
    EXPECT_EQ(more.values[0].second.bytes, (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(more.values[1].second.text, "b");
    EXPECT_TRUE(more.problems.empty());
    // A comment that ends in a backslash continues nothing: no blank line is needed.
    EXPECT_EQ(editRegistryText("REGEDIT4\n" + key() + "; C:\\", {{"A", RegValue::sz("b")}}),
              "REGEDIT4\n" + key() + "; C:\\\n\"A\"=\"b\"\n");
}

// Only a hex value goes on over a line that ends in a backslash, as the registry editor
// writes long ones. A Windows comment or path often ends in one and must not take the
// next line with it; a string or dword that ends in one is a broken line of its own.
TEST(RegistryText, OnlyHexValuesContinueOnTheNextLine) {
    const std::string text = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\QX_RAID_GUI]
; the mail texts live in C:\WINDOWS\system32\
"Port"="587"
"FilePath"="C:\\WINDOWS\\system32\\"
"ProductID"=hex:01,02,\
  03,04
"Blob"=hex(3):0a,\
  0b,\
  0c
@=hex:ff,\
  ee
"SMTP"="mail.example"\
"UserName"="Ann"
"EMailSend"=dword:00000001\
"TimeOut"="10"
;\
"After"="x\\"
)";
    const RegistryText r = parseRegistryText(text);
    const auto find = [&](const std::string& n) -> const RegValue* {
        for (const auto& e : r.values)
            if (e.first == n) return &e.second;
        return nullptr;
    };
    ASSERT_TRUE(find("Port"));
    EXPECT_EQ(find("Port")->text, "587");
    ASSERT_TRUE(find("FilePath"));
    EXPECT_EQ(find("FilePath")->text, "C:\\WINDOWS\\system32\\");
    ASSERT_TRUE(find("ProductID"));
    EXPECT_EQ(find("ProductID")->bytes, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    ASSERT_TRUE(find("Blob"));
    EXPECT_EQ(find("Blob")->bytes, (std::vector<std::uint8_t>{10, 11, 12}));
    EXPECT_EQ(find("SMTP"), nullptr);
    ASSERT_TRUE(find("UserName"));
    EXPECT_EQ(find("UserName")->text, "Ann");
    EXPECT_EQ(find("EMailSend"), nullptr);
    ASSERT_TRUE(find("TimeOut"));
    EXPECT_EQ(find("TimeOut")->text, "10");
    ASSERT_TRUE(find("After"));
    EXPECT_EQ(find("After")->text, "x\\");
    ASSERT_EQ(r.problems.size(), 2u);
    EXPECT_EQ(r.problems[0].rfind("line 14: ", 0), 0u) << r.problems[0];
    EXPECT_EQ(r.problems[1].rfind("line 16: ", 0), 0u) << r.problems[1];

    // A save keeps those lines as they stand and the values after them readable.
    const std::string edited = editRegistryText(text, {{"Port", RegValue::sz("25")}, {"New", RegValue::sz("n")}});
    EXPECT_NE(edited.find("; the mail texts live in C:\\WINDOWS\\system32\\\n\"Port\"=\"25\"\n"), std::string::npos);
    const RegistryText back = parseRegistryText(edited);
    EXPECT_EQ(back.problems, r.problems);
    EXPECT_EQ(back.values.size(), r.values.size() + 1);
}

}  // namespace
}  // namespace raid
