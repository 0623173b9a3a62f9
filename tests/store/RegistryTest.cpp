#include "store/Registry.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

using velmora::ReadProxySettings;
using velmora::TSettingsStore;
using velmora::UseProxySettings;
using velmora::platform::SettingsDatabase;
using velmora::platform::SettingValue;

namespace {

const std::string kEightBytes("\x00\x00\x00\x00\x40\x40\xE2\x40", 8); // 37378.0 = 2002-05-02

// Each case stores one value (or none) as "Options"/"Key" and reads it back with a default.
struct Stored {
  const char *name;
  std::optional<SettingValue> value;
};

class SettingsReadRules : public ::testing::Test {
protected:
  void store(const std::optional<SettingValue> &value) {
    database->removeSection("Options");
    if (value)
      database->write("Options", "Key", *value);
  }
  std::unique_ptr<SettingsDatabase> database = SettingsDatabase::OpenInMemory();
  TSettingsStore settings{*database};
};

TEST_F(SettingsReadRules, Bool) {
  const std::pair<Stored, bool> cases[] = {
      {{"missing", std::nullopt}, true},
      {{"dword 0", SettingValue::Dword(0)}, false},
      {{"dword 1", SettingValue::Dword(1)}, true},
      {{"dword 5 is true", SettingValue::Dword(5)}, true},
      {{"sz 1 is the default", SettingValue::Sz("1")}, true},
      {{"binary is the default", SettingValue::Binary("\x00")}, true},
  };
  for (const auto &[stored, expected] : cases) {
    store(stored.value);
    EXPECT_EQ(settings.ReadBool("Options", "Key", true), expected) << stored.name;
  }
  store(SettingValue::Sz("1"));
  EXPECT_FALSE(settings.ReadBool("Options", "Key", false));
}

TEST_F(SettingsReadRules, Integer) {
  const std::pair<Stored, int32_t> cases[] = {
      {{"missing", std::nullopt}, 7},
      {{"dword", SettingValue::Dword(42)}, 42},
      {{"negative", SettingValue::Dword(0xFFFFFFFFu)}, -1},
      {{"lowest", SettingValue::Dword(0x80000000u)}, INT32_MIN},
      {{"sz is the default", SettingValue::Sz("42")}, 7},
      {{"expand_sz is the default", SettingValue::ExpandSz("42")}, 7},
  };
  for (const auto &[stored, expected] : cases) {
    store(stored.value);
    EXPECT_EQ(settings.ReadInteger("Options", "Key", 7), expected) << stored.name;
  }
}

TEST_F(SettingsReadRules, String) {
  const std::pair<Stored, std::string> cases[] = {
      {{"missing", std::nullopt}, "def"},
      {{"sz", SettingValue::Sz("value")}, "value"},
      {{"expand_sz as stored", SettingValue::ExpandSz("$HOME/x")}, "$HOME/x"},
      {{"empty is the default", SettingValue::Sz("")}, "def"},
      {{"ends at NUL", SettingValue::Sz(std::string("ab\0cd", 5))}, "ab"},
      {{"NUL first is empty", SettingValue::Sz(std::string("\0cd", 3))}, "def"},
      {{"dword is the default", SettingValue::Dword(3)}, "def"},
      {{"binary is the default", SettingValue::Binary("text")}, "def"},
  };
  for (const auto &[stored, expected] : cases) {
    store(stored.value);
    EXPECT_EQ(settings.ReadString("Options", "Key", "def"), expected) << stored.name;
  }
  store(SettingValue::Sz(""));
  EXPECT_EQ(settings.ReadString("Options", "Key", ""), "");
}

TEST_F(SettingsReadRules, DateTime) {
  const std::pair<Stored, double> cases[] = {
      {{"missing", std::nullopt}, 1.5},
      {{"8 bytes", SettingValue::Binary(kEightBytes)}, 37378.0},
      {{"4 bytes is the default", SettingValue::Binary(kEightBytes.substr(0, 4))}, 1.5},
      {{"9 bytes is the default", SettingValue::Binary(kEightBytes + "x")}, 1.5},
      {{"dword is the default", SettingValue::Dword(1)}, 1.5},
      {{"8-byte sz is the default", SettingValue::Sz("12345678")}, 1.5},
  };
  for (const auto &[stored, expected] : cases) {
    store(stored.value);
    EXPECT_EQ(settings.ReadDateTime("Options", "Key", 1.5), expected) << stored.name;
  }
}

TEST_F(SettingsReadRules, MissingSectionOrRegistryPathGivesTheDefault) {
  database->write("Options", "Key", SettingValue::Dword(1));
  for (const char *section : {"Nowhere", "\\Software\\Velmora\\Options", "Options\\Key"}) {
    EXPECT_EQ(settings.ReadInteger(section, "Key", 9), 9) << section;
    EXPECT_EQ(settings.ReadString(section, "Key", "d"), "d") << section;
  }
  EXPECT_EQ(settings.ReadInteger("OPTIONS", "KEY", 9), 1);
}

TEST_F(SettingsReadRules, WritesUseTheirEncodingAndReplaceAnyType) {
  settings.WriteString("Options", "Key", "text");
  settings.WriteBool("Options", "Key", true);
  EXPECT_EQ(database->read("Options", "Key"), SettingValue::Dword(1));
  settings.WriteBool("Options", "Key", false);
  EXPECT_EQ(database->read("Options", "Key"), SettingValue::Dword(0));
  settings.WriteInteger("Options", "Key", -2);
  EXPECT_EQ(database->read("Options", "Key"), SettingValue::Dword(0xFFFFFFFEu));
  EXPECT_EQ(settings.ReadInteger("Options", "Key", 0), -2);
  settings.WriteDateTime("Options", "Key", 37378.0);
  EXPECT_EQ(database->read("Options", "Key"), SettingValue::Binary(kEightBytes));
  settings.WriteDateTime("Options", "Key", 38051.75);
  EXPECT_EQ(settings.ReadDateTime("Options", "Key", 0), 38051.75);
  settings.WriteString("Options", "Key", "Partial Downloads");
  EXPECT_EQ(database->read("Options", "Key"), SettingValue::Sz("Partial Downloads"));
}

TEST_F(SettingsReadRules, ProgramAndHelperPathsLieOutsideAnySection) {
  settings.SetProgramPath("/usr/bin/velmora");
  settings.SetDllPath("/usr/lib/velmora/velmora-browser-host");
  EXPECT_EQ(settings.ReadString(velmora::kProductSection, "path", ""), "/usr/bin/velmora");
  EXPECT_EQ(database->read("", "DllPath"), SettingValue::Sz("/usr/lib/velmora/velmora-browser-host"));
  EXPECT_EQ(settings.ReadString("Options", "Path", "none"), "none");
}

velmora::platform::Environment Fake(std::map<std::string, std::string> variables) {
  return [variables = std::move(variables)](const std::string &name) -> std::optional<std::string> {
    const auto found = variables.find(name);
    return found == variables.end() ? std::nullopt : std::optional<std::string>(found->second);
  };
}

TEST(SystemProxy, FromTheEnvironment) {
  const struct {
    std::map<std::string, std::string> environment;
    const char *expected;
  } cases[] = {
      {{}, ""},
      {{{"http_proxy", ""}, {"ftp_proxy", ""}}, ""},
      {{{"http_proxy", "http://proxy:3128/"}, {"ftp_proxy", "http://proxy:3128"}}, "proxy:3128"},
      {{{"HTTP_PROXY", "proxy:8080"}}, "http=proxy:8080"},
      {{{"http_proxy", "http://a:1"}, {"HTTP_PROXY", "http://b:2"}}, "http=a:1"},
      {{{"FTP_PROXY", "ftp://f:21"}}, "ftp=f:21"},
      {{{"http_proxy", "http://user:p@ss@h:3128/path?x"}, {"ftp_proxy", "f:2121"}}, "http=h:3128;ftp=f:2121"},
      {{{"http_proxy", "http://[::1]:3128"}}, "http=[::1]:3128"},
      {{{"http_proxy", "proxy:3128\r\nX: y"}}, ""},
  };
  for (const auto &c : cases) {
    const auto environment = Fake(c.environment);
    EXPECT_EQ(ReadProxySettings(environment), c.expected) << c.expected;
    EXPECT_EQ(UseProxySettings(environment), std::string(c.expected) != "") << c.expected;
  }
}

} // namespace
