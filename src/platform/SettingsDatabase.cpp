#include "platform/SettingsDatabase.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::platform {

namespace {

// Long enough for another process to finish its write, short enough that a hung peer does not
// freeze the program for good.
constexpr int kBusyTimeoutMs = 5000;

const char *kSchema = "CREATE TABLE IF NOT EXISTS setting ("
                      " section TEXT NOT NULL COLLATE NOCASE,"
                      " name TEXT NOT NULL COLLATE NOCASE,"
                      " type TEXT NOT NULL CHECK (type IN ('dword', 'sz', 'expand_sz', 'binary')),"
                      " data BLOB,"
                      " PRIMARY KEY (section, name)) WITHOUT ROWID";

const char *TypeName(SettingType type) {
  switch (type) {
  case SettingType::stDword:
    return "dword";
  case SettingType::stSz:
    return "sz";
  case SettingType::stExpandSz:
    return "expand_sz";
  case SettingType::stBinary:
    return "binary";
  }
  return "binary";
}

std::optional<SettingType> TypeFromName(std::string_view name) {
  for (SettingType type :
       {SettingType::stDword, SettingType::stSz, SettingType::stExpandSz, SettingType::stBinary}) {
    if (name == TypeName(type))
      return type;
  }
  return std::nullopt;
}

// Returns a cached statement to its unbound, unstarted state on every way out of an operation.
class StatementUse {
public:
  explicit StatementUse(sqlite3_stmt *statement) : statement_(statement) {}
  ~StatementUse() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  StatementUse(const StatementUse &) = delete;
  StatementUse &operator=(const StatementUse &) = delete;

private:
  sqlite3_stmt *statement_;
};

// Far above any setting; keeps the length within what SQLite's int-sized lengths can carry.
constexpr std::size_t kMaxValueBytes = std::size_t{64} << 20;

void CheckSize(std::string_view bytes) {
  if (bytes.size() > kMaxValueBytes)
    throw SettingsError("Settings store: value too large", SQLITE_TOOBIG);
}

void BindText(sqlite3_stmt *statement, int index, std::string_view text) {
  CheckSize(text);
  // An empty view may have no data pointer, which SQLite would store as NULL.
  sqlite3_bind_text(statement, index, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
}

std::string ColumnBytes(sqlite3_stmt *statement, int column) {
  const void *bytes = sqlite3_column_blob(statement, column);
  const int size = sqlite3_column_bytes(statement, column);
  if (bytes == nullptr || size <= 0)
    return {};
  return std::string(static_cast<const char *>(bytes), static_cast<std::size_t>(size));
}

std::string TimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  if (std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local) == 0)
    return std::to_string(now);
  return text;
}

// Creates the file with mode 0600 before SQLite opens it (SQLite gives its journal files the mode
// of the database), and takes group and other access away from an existing one.
// Returns false when the file cannot be opened at all.
bool PrepareFile(const std::string &path, std::string &problem) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    problem = DescribeSystemError("Cannot open the settings file", path, errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) == 0 && (info.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0)
    problem = DescribeSystemError("Cannot make the settings file private:", path, errno);
  ::close(fd);
  return true;
}

constexpr const char *kInMemoryOnly = "; settings are kept only until the program ends";

// Keeps a damaged database (and its write-ahead log) beside the new one instead of deleting it.
std::string MoveAside(const std::string &path) {
  std::string aside = path + ".broken-" + TimeStamp();
  if (::rename(path.c_str(), aside.c_str()) != 0)
    return {};
  // Without a log there is nothing to move; the shared-memory index is rebuilt by SQLite.
  (void)::rename((path + "-wal").c_str(), (aside + "-wal").c_str());
  (void)::unlink((path + "-shm").c_str());
  return aside;
}

bool IsDamage(int code) { return code == SQLITE_CORRUPT || code == SQLITE_NOTADB; }

} // namespace

void SettingsDatabase::StatementDeleter::operator()(sqlite3_stmt *statement) const {
  sqlite3_finalize(statement);
}

SettingsDatabase::SettingsDatabase(sqlite3 *connection) : connection_(connection) {}

SettingsDatabase::~SettingsDatabase() {
  read_.reset();
  write_.reset();
  removeValue_.reset();
  removeSection_.reset();
  sqlite3_close_v2(connection_);
}

std::unique_ptr<SettingsDatabase> SettingsDatabase::Connect(const std::string &path) {
  sqlite3 *connection = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW;
  const int opened = sqlite3_open_v2(path.c_str(), &connection, flags, nullptr);
  // The object owns the connection from here, even one that failed to open.
  std::unique_ptr<SettingsDatabase> database(new SettingsDatabase(connection));
  if (opened != SQLITE_OK)
    database->fail("open");
  sqlite3_extended_result_codes(connection, 0);
  sqlite3_busy_timeout(connection, kBusyTimeoutMs);
  database->prepareSchema();
  return database;
}

void SettingsDatabase::prepareSchema() {
  // WAL lets readers and a writer of other processes work at once; NORMAL syncing in WAL mode never
  // corrupts the file, a power cut may only lose the last writes.
  execute("PRAGMA journal_mode=WAL");
  execute("PRAGMA synchronous=NORMAL");
  if (!integrityOk())
    throw SettingsError("The settings database is damaged", SQLITE_CORRUPT);
  execute(kSchema);
  read_ = prepare("SELECT type, data FROM setting WHERE section = ?1 AND name = ?2");
  write_ = prepare("INSERT INTO setting (section, name, type, data) VALUES (?1, ?2, ?3, ?4)"
                   " ON CONFLICT (section, name) DO UPDATE SET type = excluded.type, data = excluded.data");
  removeValue_ = prepare("DELETE FROM setting WHERE section = ?1 AND name = ?2");
  removeSection_ = prepare("DELETE FROM setting WHERE section = ?1");
}

SettingsDatabase::OpenResult SettingsDatabase::Open(const std::string &path) {
  OpenResult result;
  result.database = TryFile(path, result.problem);
  if (!result.database) {
    result.problem += kInMemoryOnly;
    result.database = OpenInMemory();
  }
  return result;
}

std::unique_ptr<SettingsDatabase> SettingsDatabase::TryFile(const std::string &path, std::string &problem) {
  if (!PrepareFile(path, problem))
    return nullptr;
  try {
    return Connect(path);
  } catch (const SettingsError &error) {
    problem = error.what();
    if (!IsDamage(error.code()))
      return nullptr;
  }
  const std::string aside = MoveAside(path);
  if (aside.empty()) {
    problem = "The settings file " + path + " is damaged and cannot be moved aside";
    return nullptr;
  }
  problem =
      "The settings file " + path + " was damaged; it is kept as " + aside + " and a new one was started";
  std::string again;
  if (!PrepareFile(path, again)) {
    problem += "; " + again;
    return nullptr;
  }
  try {
    return Connect(path);
  } catch (const SettingsError &error) {
    problem += "; " + std::string(error.what());
    return nullptr;
  }
}

std::unique_ptr<SettingsDatabase> SettingsDatabase::OpenInMemory() { return Connect(":memory:"); }

SettingsDatabase::Statement SettingsDatabase::prepare(const char *sql) const {
  sqlite3_stmt *statement = nullptr;
  if (sqlite3_prepare_v3(connection_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
    fail("prepare");
  return Statement(statement);
}

void SettingsDatabase::execute(const char *sql) const {
  if (sqlite3_exec(connection_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
    fail(sql);
}

void SettingsDatabase::fail(const char *what) const {
  const int code = connection_ == nullptr ? SQLITE_NOMEM : sqlite3_errcode(connection_);
  const char *message = connection_ == nullptr ? "out of memory" : sqlite3_errmsg(connection_);
  throw SettingsError(std::string("Settings store (") + what + "): " + message, code & 0xff);
}

std::optional<SettingValue> SettingsDatabase::read(std::string_view section, std::string_view name) const {
  sqlite3_stmt *statement = read_.get();
  StatementUse use(statement);
  BindText(statement, 1, section);
  BindText(statement, 2, name);
  const int step = sqlite3_step(statement);
  if (step == SQLITE_DONE)
    return std::nullopt;
  if (step != SQLITE_ROW)
    fail("read");
  const auto type = TypeFromName(ColumnBytes(statement, 0));
  if (!type)
    return std::nullopt;
  SettingValue value;
  value.type = *type;
  if (*type == SettingType::stDword) {
    // A row written by anything but this class could hold another kind of data; it reads as absent.
    const sqlite3_int64 number = sqlite3_column_int64(statement, 1);
    if (sqlite3_column_type(statement, 1) != SQLITE_INTEGER || number < 0 ||
        number > std::numeric_limits<uint32_t>::max())
      return std::nullopt;
    value.dword = static_cast<uint32_t>(number);
  } else {
    value.data = ColumnBytes(statement, 1);
  }
  return value;
}

void SettingsDatabase::write(std::string_view section, std::string_view name, const SettingValue &value) {
  sqlite3_stmt *statement = write_.get();
  StatementUse use(statement);
  BindText(statement, 1, section);
  BindText(statement, 2, name);
  sqlite3_bind_text(statement, 3, TypeName(value.type), -1, SQLITE_STATIC);
  switch (value.type) {
  case SettingType::stDword:
    sqlite3_bind_int64(statement, 4, value.dword);
    break;
  case SettingType::stSz:
  case SettingType::stExpandSz:
    BindText(statement, 4, value.data);
    break;
  case SettingType::stBinary:
    CheckSize(value.data);
    if (value.data.empty())
      sqlite3_bind_zeroblob(statement, 4, 0);
    else
      sqlite3_bind_blob(statement, 4, value.data.data(), static_cast<int>(value.data.size()),
                        SQLITE_TRANSIENT);
    break;
  }
  if (sqlite3_step(statement) != SQLITE_DONE)
    fail("write");
}

void SettingsDatabase::removeValue(std::string_view section, std::string_view name) {
  sqlite3_stmt *statement = removeValue_.get();
  StatementUse use(statement);
  BindText(statement, 1, section);
  BindText(statement, 2, name);
  if (sqlite3_step(statement) != SQLITE_DONE)
    fail("remove");
}

void SettingsDatabase::removeSection(std::string_view section) {
  sqlite3_stmt *statement = removeSection_.get();
  StatementUse use(statement);
  BindText(statement, 1, section);
  if (sqlite3_step(statement) != SQLITE_DONE)
    fail("remove section");
}

bool SettingsDatabase::integrityOk() const {
  sqlite3_stmt *raw = nullptr;
  if (sqlite3_prepare_v2(connection_, "PRAGMA integrity_check", -1, &raw, nullptr) != SQLITE_OK)
    return false;
  const Statement statement(raw);
  return sqlite3_step(raw) == SQLITE_ROW && ColumnBytes(raw, 0) == "ok" && sqlite3_step(raw) == SQLITE_DONE;
}

} // namespace velmora::platform
