#include "app/GetOptions.h"

#include <charconv>

namespace velmora {

const char *const kGetUsage =
    "Usage: velmora-get [options] URL...\n"
    "       velmora-get --stats\n"
    "Downloads each URL (http://, https:// or ftp://) in several parts at once, resuming from the part "
    "files\n"
    "of an earlier run of the same command. Several URLs wait in a queue; failed ones are retried\n"
    "after a countdown (the RetryTimes and RetryDelay settings).\n"
    "\n"
    "  -o FILE          save as FILE (one URL only)\n"
    "  -d DIR           save into DIR (default: the current folder)\n"
    "  -n N             number of parts (default: the SplitParts setting)\n"
    "  -m URL           another server with the same file (repeatable; one URL only)\n"
    "  -j N             downloads at a time (default: the MaxSimultaneousDownloads setting)\n"
    "  --proxy URL      HTTP proxy for this run\n"
    "  --ca-certificate FILE\n"
    "                   trust the CA certificates in FILE (PEM) besides the system's\n"
    "  --insecure       do not check the certificates of https servers\n"
    "  --user NAME      user name (default: the URL's)\n"
    "  --password TEXT  password (default: the URL's)\n"
    "  --extract DIR    unpack the downloaded zip archive into DIR (one URL only)\n"
    "  --hang-up        hang up the dial-up connections after the last download\n"
    "  --shutdown       switch the machine off after the last download\n"
    "  --stats          write the server statistics pages and print their paths\n"
    "  -q               quiet: only errors\n"
    "  -h, --help       this text\n";

namespace {

std::optional<int32_t> NumberFrom1To64(const std::string &text) {
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > 64)
    return std::nullopt;
  return value;
}

} // namespace

TGetOptionsResult ParseGetOptions(const std::vector<std::string> &arguments) {
  TGetOptionsResult result;
  TGetOptions &options = result.Options;
  const auto fail = [&](std::string error) {
    result.Error = std::move(error);
    return result;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string &argument = arguments[i];
    const auto value = [&]() -> const std::string * {
      return i + 1 < arguments.size() ? &arguments[++i] : nullptr;
    };
    const bool takesValue = argument == "-o" || argument == "-d" || argument == "-n" || argument == "-m" ||
                            argument == "-j" || argument == "--proxy" || argument == "--user" ||
                            argument == "--password" || argument == "--extract" ||
                            argument == "--ca-certificate";
    if (takesValue) {
      const std::string *given = value();
      if (given == nullptr)
        return fail("option " + argument + " needs a value");
      if (argument == "-o")
        options.OutputFile = *given;
      else if (argument == "-d")
        options.Folder = *given;
      else if (argument == "-n") {
        options.Parts = NumberFrom1To64(*given);
        if (!options.Parts)
          return fail("-n needs a number of parts from 1 to 64, not \"" + *given + "\"");
      } else if (argument == "-j") {
        options.Jobs = NumberFrom1To64(*given);
        if (!options.Jobs)
          return fail("-j needs a number of downloads from 1 to 64, not \"" + *given + "\"");
      } else if (argument == "-m")
        options.Mirrors.push_back(*given);
      else if (argument == "--proxy")
        options.Proxy = *given;
      else if (argument == "--user")
        options.User = *given;
      else if (argument == "--password")
        options.Password = *given;
      else if (argument == "--ca-certificate")
        options.CaCertificate = *given;
      else
        options.ExtractFolder = *given;
    } else if (argument == "--shutdown") {
      options.Shutdown = true;
    } else if (argument == "--insecure") {
      options.Insecure = true;
    } else if (argument == "--hang-up") {
      options.HangUp = true;
    } else if (argument == "-q") {
      options.Quiet = true;
    } else if (argument == "--stats") {
      options.Statistics = true;
    } else if (argument == "-h" || argument == "--help") {
      options.Help = true;
    } else if (!argument.empty() && argument[0] == '-') {
      return fail("unknown option " + argument);
    } else {
      if (options.Urls.empty())
        options.Url = argument;
      options.Urls.push_back(argument);
    }
  }
  if (options.Url.empty() && !options.Statistics && !options.Help)
    return fail("no URL given");
  if (options.Urls.size() > 1 && !options.OutputFile.empty())
    return fail("-o names one file; give only one URL with it");
  if (UsesQueue(options) && (!options.Mirrors.empty() || !options.ExtractFolder.empty()))
    return fail("-m and --extract work on a single download, without -j, --shutdown and --hang-up");
  return result;
}

bool UsesQueue(const TGetOptions &options) {
  return options.Urls.size() > 1 || options.Jobs || options.Shutdown || options.HangUp;
}

} // namespace velmora
