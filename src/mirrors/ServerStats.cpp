#include "mirrors/ServerStats.h"

#include "platform/AtomicFile.h"
#include "shell/ReportError.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>

namespace velmora {

namespace {

// A statistics file holds at most 200 short lines; anything far larger is not one.
constexpr uint64_t kMaxStatsFileBytes = uint64_t{4} * 1024 * 1024;
constexpr int32_t kNoPing = kUnmeasuredPingTime;

TServer *find(std::vector<TServer> &records, const std::string &name) {
  const auto found = std::find_if(records.begin(), records.end(),
                                  [&](const TServer &record) { return record.Name == name; });
  return found == records.end() ? nullptr : &*found;
}

// The index of the first record whose average ping is greater than value: equal averages go after.
std::size_t sortedPlace(const std::vector<TServer> &records, int32_t value) {
  return static_cast<std::size_t>(
      std::upper_bound(records.begin(), records.end(), value,
                       [](int32_t ping, const TServer &record) { return ping < record.AveragePing; }) -
      records.begin());
}

int32_t nextCount(int32_t count) { return count == std::numeric_limits<int32_t>::max() ? count : count + 1; }

void recordPing(std::vector<TServer> &records, const std::string &name, int32_t ping) {
  if (TServer *record = find(records, name)) {
    TServer updated = *record;
    updated.AveragePing = static_cast<int32_t>(DivideRoundingHalfToEven(
        static_cast<TWideInteger>(ping) + static_cast<TWideInteger>(updated.AveragePing) * updated.PingCount,
        static_cast<int64_t>(updated.PingCount) + 1));
    updated.PingCount = nextCount(updated.PingCount);
    records.erase(records.begin() + (record - records.data()));
    records.insert(records.begin() + static_cast<std::ptrdiff_t>(sortedPlace(records, updated.AveragePing)),
                   std::move(updated));
    return;
  }
  const std::size_t place = sortedPlace(records, ping);
  if (place >= TServerStats::kMaxRecords)
    return;
  records.insert(records.begin() + static_cast<std::ptrdiff_t>(place), TServer{name, ping, 1, 0, 0});
  if (records.size() > TServerStats::kMaxRecords)
    records.resize(TServerStats::kMaxRecords);
}

bool recordSpeed(std::vector<TServer> &records, const std::string &name, int64_t speed) {
  TServer *record = find(records, name);
  if (record == nullptr)
    return false;
  record->AverageSpeed = DivideRoundingHalfToEven(
      static_cast<TWideInteger>(speed) + static_cast<TWideInteger>(record->AverageSpeed) * record->SpeedCount,
      static_cast<int64_t>(record->SpeedCount) + 1);
  record->SpeedCount = nextCount(record->SpeedCount);
  return true;
}

// A decimal number without sign, blanks or anything else; counts and averages are never negative.
template <class Number> bool parseNumber(std::string_view text, Number &value) {
  if (text.empty() || text.front() == '-')
    return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// A record line: name TAB ping TAB count TAB speed TAB count; anything after a further TAB is ignored.
bool parseRecord(std::string_view line, TServer &record) {
  std::string_view fields[5];
  for (int i = 0; i < 4; ++i) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos)
      return false;
    fields[i] = line.substr(0, tab);
    line.remove_prefix(tab + 1);
  }
  fields[4] = line.substr(0, line.find('\t'));
  record.Name = StatisticsName(fields[0]);
  return parseNumber(fields[1], record.AveragePing) && parseNumber(fields[2], record.PingCount) &&
         parseNumber(fields[3], record.AverageSpeed) && parseNumber(fields[4], record.SpeedCount);
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos)
      break;
    text.remove_prefix(text.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1);
  }
  return lines;
}

// Keeps what the rest of the code relies on, whatever the file held: sorted, at most 100.
void restoreOrder(std::vector<TServer> &records) {
  std::stable_sort(records.begin(), records.end(),
                   [](const TServer &a, const TServer &b) { return a.AveragePing < b.AveragePing; });
  if (records.size() > TServerStats::kMaxRecords)
    records.resize(TServerStats::kMaxRecords);
}

std::string recordLine(const TServer &record) {
  return record.Name + "\t" + std::to_string(record.AveragePing) + "\t" + std::to_string(record.PingCount) +
         "\t" + std::to_string(record.AverageSpeed) + "\t" + std::to_string(record.SpeedCount) + "\r\n";
}

std::string fileName(const std::string &path) { return std::filesystem::path(path).filename().string(); }

} // namespace

TServerStatsFiles TServerStatsFiles::Of(const platform::Paths &paths) {
  return {paths.serverStatsFile, paths.pingStatisticsFile, paths.speedStatisticsFile};
}

std::string StatisticsName(std::string_view host) {
  static constexpr char kHex[] = "0123456789abcdef"; // lower case: a name read back keeps its form
  std::string name;
  name.reserve(host.size());
  for (char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      name += '%';
      name += kHex[byte >> 4];
      name += kHex[byte & 0x0f];
    } else {
      name += byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : c;
    }
  }
  return name;
}

std::string TopDomainOf(std::string_view name) {
  // A server named with its port ("host.org:443", "[::1]:443") has the domain of its host.
  const std::size_t colon = name.rfind(':');
  if (colon != std::string_view::npos && (name.find(':') == colon || name[colon - 1] == ']'))
    name = name.substr(0, colon);
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}

int64_t DivideRoundingHalfToEven(TWideInteger numerator, int64_t denominator) {
  TWideInteger quotient = numerator / denominator;
  const TWideInteger twiceRemainder = (numerator % denominator) * 2;
  if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 != 0))
    ++quotient;
  else if (twiceRemainder < -denominator || (twiceRemainder == -denominator && quotient % 2 != 0))
    --quotient;
  return static_cast<int64_t>(quotient);
}

void TServerStats::Load() {
  GuardedVoid("procedure TServerStats.Load", [&] {
    servers_.clear();
    topDomains_.clear();
    std::string text;
    bool missing = false;
    const platform::FileResult read =
        platform::ReadFileContents(files_.StatsFile, text, kMaxStatsFileBytes, &missing);
    if (missing)
      return;
    if (!read)
      throw std::runtime_error(read.error);
    const std::vector<std::string_view> lines = splitLines(text);
    std::size_t serverCount = 0;
    if (lines.empty() || !parseNumber(lines[0], serverCount))
      throw std::runtime_error(files_.StatsFile +
                               ": the first line is no record count; the statistics start afresh");
    std::size_t damaged = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
      TServer record;
      if (!parseRecord(lines[i], record)) {
        damaged += lines[i].empty() ? 0 : 1;
        continue;
      }
      (i <= serverCount ? servers_ : topDomains_).push_back(std::move(record));
    }
    restoreOrder(servers_);
    restoreOrder(topDomains_);
    if (damaged != 0)
      ReportError("procedure TServerStats.Load",
                  files_.StatsFile + ": " + std::to_string(damaged) + " damaged lines were skipped");
  });
}

void TServerStats::AddPing(std::string_view host, int32_t milliseconds) {
  if (milliseconds < 0 || milliseconds >= kNoPing)
    return;
  const std::string name = StatisticsName(host);
  recordPing(servers_, name, milliseconds);
  recordPing(topDomains_, TopDomainOf(name), milliseconds);
  Save();
}

void TServerStats::AddSpeed(std::string_view host, int64_t bytesPerSecond) {
  if (bytesPerSecond <= 0)
    return;
  const std::string name = StatisticsName(host);
  const bool server = recordSpeed(servers_, name, bytesPerSecond);
  const bool domain = recordSpeed(topDomains_, TopDomainOf(name), bytesPerSecond);
  if (server || domain)
    Save();
}

void TServerStats::OrderMirrors(TMirrorList &mirrors) {
  GuardedVoid("procedure TServerStats.OrderMirrors(MirrorList : TMirrorList)", [&] {
    for (const auto &mirror : mirrors.Items()) {
      const std::string name = StatisticsName(mirror->Url.ServerName());
      const TServer *server = find(servers_, name);
      const TServer *domain = find(topDomains_, TopDomainOf(name));
      mirror->HostAveragePing = server != nullptr ? server->AveragePing : kNoPing;
      mirror->HostAverageRate = server != nullptr ? server->AverageSpeed : 0;
      mirror->DomainAveragePing = domain != nullptr ? domain->AveragePing : kNoPing;
      mirror->DomainAverageRate = domain != nullptr ? domain->AverageSpeed : 0;
    }
    const auto key = [](const TFileMirror &mirror) {
      return mirror.HostAveragePing == kNoPing ? mirror.DomainAveragePing : mirror.HostAveragePing;
    };
    mirrors.Sort([&](const TFileMirror &a, const TFileMirror &b) { return key(a) < key(b); });
  });
}

platform::FileResult TServerStats::Save() const {
  std::string text = std::to_string(servers_.size()) + "\r\n";
  for (const TServer &record : servers_)
    text += recordLine(record);
  for (const TServer &record : topDomains_)
    text += recordLine(record);
  platform::FileResult written = platform::WriteFileAtomically(files_.StatsFile, text);
  if (!written)
    ReportError("procedure TServerStats.Save", written.error);
  return written;
}

platform::FileResult TServerStats::Report() {
  const std::string decimalPoint = std::localeconv()->decimal_point;
  platform::FileResult written = platform::WriteFileAtomically(
      files_.PingPage, PingStatisticsPage(servers_, topDomains_, fileName(files_.SpeedPage), decimalPoint));
  if (written)
    written = platform::WriteFileAtomically(
        files_.SpeedPage,
        SpeedStatisticsPage(servers_, topDomains_, fileName(files_.PingPage), decimalPoint));
  if (!written) {
    ReportError("procedure TForm_Main.ViewServerStatistics1Click(Sender: TObject);", written.error);
    return written;
  }
  return Save();
}

void TServerStats::Clear() {
  for (const std::string *file : {&files_.StatsFile, &files_.PingPage, &files_.SpeedPage})
    if (std::remove(file->c_str()) != 0 && errno != ENOENT)
      ReportError("procedure TServerStats.Clear", *file + ": " + std::strerror(errno));
  servers_.clear();
  topDomains_.clear();
}

} // namespace velmora
