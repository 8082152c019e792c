// The registry-export reader: sections, value forms, merging and deletion,
// continuation lines, byte-order marks and malformed input.
#include "support/registry_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char* const kSection =
    "HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults";

std::vector<RegistryValue> read(const std::string& text, bool* found) {
  std::vector<RegistryValue> values;
  *found = registryFileReadSection(text.data(), text.size(), kSection, &values);
  return values;
}

const RegistryValue* find(const std::vector<RegistryValue>& values,
                          const std::string& name) {
  for (const RegistryValue& value : values) {
    if (value.name == name) return &value;
  }
  return nullptr;
}

TEST(RegistryFileTest, ReadsTheValueFormsOfOneSection) {
  const std::string text =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults4]\r\n"
      "\"rn\"=\"other\"\r\n"
      "\r\n"
      "[hkey_local_machine\\SOFTWARE\\Quandrilex\\defaults]\r\n"
      "\"rn\"=\"414243\"\r\n"
      "\"path\"=\"C:\\\\Data \\\"q\\\"\"\r\n"
      "\"count\"=dword:0000000A\r\n"
      "\"blob\"=hex:01,02,\\\r\n"
      "  ff\r\n"
      "\"exp\"=hex(2):41,00\r\n"
      "; a comment\r\n"
      "\"bad\"=dword:xyz\r\n"
      "\"long\"=dword:123456789\r\n"
      "\"open\"=\"no end\r\n"
      "@=\"default\"\r\n";
  bool found = false;
  const std::vector<RegistryValue> values = read(text, &found);
  ASSERT_TRUE(found);
  ASSERT_EQ(6u, values.size());
  const RegistryValue* rn = find(values, "rn");
  ASSERT_NE(nullptr, rn);
  EXPECT_EQ(kRegTypeString, rn->type);
  EXPECT_EQ(std::vector<uint8_t>({'4', '1', '4', '2', '4', '3', 0}), rn->data);
  const RegistryValue* path = find(values, "path");
  ASSERT_NE(nullptr, path);
  EXPECT_EQ("C:\\Data \"q\"",
            std::string(path->data.begin(), path->data.end() - 1));
  const RegistryValue* count = find(values, "count");
  ASSERT_NE(nullptr, count);
  EXPECT_EQ(kRegTypeDword, count->type);
  EXPECT_EQ(std::vector<uint8_t>({10, 0, 0, 0}), count->data);
  const RegistryValue* blob = find(values, "blob");
  ASSERT_NE(nullptr, blob);
  EXPECT_EQ(kRegTypeBinary, blob->type);
  EXPECT_EQ(std::vector<uint8_t>({1, 2, 0xff}), blob->data);
  const RegistryValue* expand = find(values, "exp");
  ASSERT_NE(nullptr, expand);
  EXPECT_EQ(kRegTypeExpandString, expand->type);
  EXPECT_NE(nullptr, find(values, ""));
}

TEST(RegistryFileTest, SectionsMergeAndDeletionsApply) {
  bool found = false;
  std::vector<RegistryValue> values = read(
      "[HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults]\n"
      "\"a\"=\"1\"\n\"b\"=\"2\"\n"
      "[HKEY_LOCAL_MACHINE\\Software\\other]\n\"c\"=\"3\"\n"
      "[HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults]\n"
      "\"A\"=\"one\"\n\"b\"=-\n",
      &found);
  ASSERT_TRUE(found);
  ASSERT_EQ(1u, values.size());
  EXPECT_EQ("A", values[0].name);

  values = read(
      "[HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults]\n\"a\"=\"1\"\n"
      "[-HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults]\n",
      &found);
  EXPECT_FALSE(found);
  EXPECT_TRUE(values.empty());

  values = read("[HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults]", &found);
  EXPECT_TRUE(found);
  values = read("[HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults\\sub]\n",
                &found);
  EXPECT_FALSE(found);
  values = read(std::string("\0\0[\n]\n[[[\"\"=\n\\\\\\", 16), &found);
  EXPECT_FALSE(found);
}

TEST(RegistryFileTest, Utf16TextIsConverted) {
  const std::string utf8 =
      "[HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults]\r\n\"v\"="
      "\"\xc3\xa9\"\r\n";
  std::string utf16 = "\xFF\xFE";
  // Every character here is below U+0100, so each is one unit.
  const std::u16string units =
      u"[HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults]\r\n\"v\"="
      u"\"\u00e9\"\r\n";
  for (char16_t unit : units) {
    utf16.push_back(static_cast<char>(unit & 0xFF));
    utf16.push_back(static_cast<char>(unit >> 8));
  }
  EXPECT_EQ(utf8, registryFileToUtf8(utf16));
  EXPECT_EQ(utf8, registryFileToUtf8(utf8));
  // An unpaired surrogate ends the text there.
  EXPECT_EQ("a", registryFileToUtf8(std::string("\xFF\xFE"
                                                "a\0\x00\xD8"
                                                "b\0",
                                                8)));
}

}  // namespace
