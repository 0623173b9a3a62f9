#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace velmora::platform {

// The value types of the per-user settings store. A read asks for a type and treats a value of
// another type as absent, so the callers' default rules work as they would on a typed registry.
enum class SettingType { stDword, stSz, stExpandSz, stBinary };

struct SettingValue {
  SettingType type = SettingType::stSz;
  uint32_t dword = 0; // stDword
  std::string data;   // the text of stSz and stExpandSz, the bytes of stBinary

  static SettingValue Dword(uint32_t value) { return {SettingType::stDword, value, {}}; }
  static SettingValue Sz(std::string text) { return {SettingType::stSz, 0, std::move(text)}; }
  static SettingValue ExpandSz(std::string text) { return {SettingType::stExpandSz, 0, std::move(text)}; }
  static SettingValue Binary(std::string bytes) { return {SettingType::stBinary, 0, std::move(bytes)}; }
  bool operator==(const SettingValue &) const = default;
};

// A failure of the store itself (disk full, permission, corruption found while reading).
class SettingsError : public std::runtime_error {
public:
  SettingsError(const std::string &what, int sqliteCode) : std::runtime_error(what), code_(sqliteCode) {}
  int code() const { return code_; } // SQLite's primary result code
private:
  int code_;
};

// The settings store: an SQLite file with one row per value (section, name, type, data). Section
// and value names are compared without regard to ASCII letter case. The file is opened in WAL mode
// with a busy timeout, so several processes may use it at once; each write is one transaction, so a
// crash at any moment leaves either the old or the new value. Nothing is cached between calls.
// Used from one thread.
class SettingsDatabase {
public:
  struct OpenResult {
    std::unique_ptr<SettingsDatabase> database; // never null
    std::string problem; // empty, or what went wrong and what was done about it, for the user
  };

  // Opens or creates the file with mode 0600. A file that is not a sound database is moved aside
  // (renamed with ".broken-" and the time appended, so nothing is lost) and a new one is started.
  // When no file can be used at all, the result is a store in memory and problem says why.
  static OpenResult Open(const std::string &path);
  static std::unique_ptr<SettingsDatabase> OpenInMemory();

  ~SettingsDatabase();
  SettingsDatabase(const SettingsDatabase &) = delete;
  SettingsDatabase &operator=(const SettingsDatabase &) = delete;

  // The stored value, or nullopt when the section or the value does not exist. Throws SettingsError.
  std::optional<SettingValue> read(std::string_view section, std::string_view name) const;
  // Replaces any value of that name, whatever its type. Throws SettingsError.
  void write(std::string_view section, std::string_view name, const SettingValue &value);
  void removeValue(std::string_view section, std::string_view name);
  void removeSection(std::string_view section);

  // Whether SQLite's integrity check finds the file sound.
  bool integrityOk() const;

private:
  struct StatementDeleter {
    void operator()(sqlite3_stmt *statement) const;
  };
  using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

  explicit SettingsDatabase(sqlite3 *connection);
  static std::unique_ptr<SettingsDatabase> Connect(const std::string &path);
  // The database of the file, moving a damaged one aside; null with problem set when none can be used.
  static std::unique_ptr<SettingsDatabase> TryFile(const std::string &path, std::string &problem);
  void prepareSchema();
  Statement prepare(const char *sql) const;
  void execute(const char *sql) const;
  [[noreturn]] void fail(const char *what) const;

  sqlite3 *connection_;
  Statement read_;
  Statement write_;
  Statement removeValue_;
  Statement removeSection_;
};

} // namespace velmora::platform
