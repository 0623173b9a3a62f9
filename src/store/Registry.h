#pragma once

#include "platform/Environment.h"
#include "platform/SettingsDatabase.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// The program's settings: the eight typed reads and writes every part of the program uses, on the
// per-user settings store. A read never fails: a missing section or value, a value of another type,
// an empty string or a date-time that is not 8 bytes gives the default passed. Nothing is cached, so
// a value written anywhere is seen by the next read. One object for the whole process, passed to
// whatever needs settings; used from the loop thread only.
class TSettingsStore {
public:
  explicit TSettingsStore(platform::SettingsDatabase &database) : database_(database) {}

  bool ReadBool(std::string_view Section, std::string_view Keyname, bool Value) const;
  void WriteBool(std::string_view Section, std::string_view Keyname, bool Value);
  int32_t ReadInteger(std::string_view Section, std::string_view Keyname, int32_t Value) const;
  void WriteInteger(std::string_view Section, std::string_view Keyname, int32_t Value);
  std::string ReadString(std::string_view Section, std::string_view Keyname, std::string_view Value) const;
  void WriteString(std::string_view Section, std::string_view Keyname, std::string_view Value);
  // Date-times count days since 1899-12-30; the fraction is the time of day.
  double ReadDateTime(std::string_view Section, std::string_view Keyname, double Value) const;
  void WriteDateTime(std::string_view Section, std::string_view Keyname, double Value);

  // Records where the program and its browser-integration helper are installed, as the values
  // `Path` and `DllPath` outside any section, for the browser add-ons to find.
  void SetProgramPath(const std::string &programFile);
  void SetDllPath(const std::string &integrationHelperFile);

private:
  platform::SettingsDatabase &database_;
};

// The section holding `Path` and `DllPath`: the store's top level, outside any section.
inline constexpr std::string_view kProductSection{};

// The system's proxy setting in the form "host:port" (one proxy for HTTP and FTP) or
// "http=host:port;ftp=host:port" (each that is set), from http_proxy/HTTP_PROXY and
// ftp_proxy/FTP_PROXY; the scheme, user information and path of a proxy URL are dropped. Empty
// when neither is set.
std::string ReadProxySettings(const platform::Environment &environment);
// Whether the system names a proxy: true when either variable is set to a usable proxy.
bool UseProxySettings(const platform::Environment &environment);

} // namespace velmora
