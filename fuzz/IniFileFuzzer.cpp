// Feeds arbitrary text to the INI reader behind the record files: what it writes back must read
// back to the same file, and a value written must read back as written (less line breaks).
#include "platform/IniFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using velmora::platform::IniFile;
  const std::string text(reinterpret_cast<const char *>(data), size);
  IniFile ini = IniFile::FromText(text);
  const std::string written = ini.toText();
  if (IniFile::FromText(written).toText() != written)
    std::abort();
  for (const std::string &section : ini.sectionNames())
    for (const std::string &key : ini.keyNames(section))
      if (!ini.value(section, key))
        std::abort();
  // Whatever the file held, a record value stays one line and reads back.
  ini.writeString("Download", "Status", text);
  const IniFile again = IniFile::FromText(ini.toText());
  const std::string stored = again.readString("Download", "Status", "missing");
  if (stored.size() != text.size() || stored.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    std::abort();
  return 0;
}
