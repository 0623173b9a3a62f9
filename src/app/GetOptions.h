#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// The command line of velmora-get.
struct TGetOptions {
  std::string Url;                  // the first URL
  std::vector<std::string> Urls;    // every URL, in the order given
  std::string OutputFile;           // -o: save as
  std::string Folder;               // -d: folder to save into; the current folder when empty
  std::optional<int32_t> Parts;     // -n: parts; the SplitParts setting when not given
  std::vector<std::string> Mirrors; // -m, repeatable
  std::string Proxy;                // --proxy
  std::string CaCertificate;        // --ca-certificate: trust this CA too
  bool Insecure = false;            // --insecure: no check of https certificates
  std::optional<std::string> User, Password;
  std::string ExtractFolder;   // --extract: unpack a zip archive there after the download
  std::optional<int32_t> Jobs; // -j: downloads at a time; the MaxSimultaneousDownloads setting when not given
  bool Shutdown = false;       // --shutdown: power the machine off after the last download
  bool HangUp = false;         // --hang-up: hang up the dial-up links after the last download
  bool Quiet = false;
  bool Statistics = false; // --stats: write the server statistics pages and print their paths
  bool Help = false;
};

struct TGetOptionsResult {
  TGetOptions Options;
  std::string Error; // empty when the command line was understood
};

TGetOptionsResult ParseGetOptions(const std::vector<std::string> &arguments);

// Whether the command runs through the download system's queue: several URLs, or an option that
// only the queue knows.
bool UsesQueue(const TGetOptions &options);

extern const char *const kGetUsage;

} // namespace velmora
