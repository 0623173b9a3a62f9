#include "app/GetOptions.h"

#include <charconv>

namespace velmora {

const char *const kGetUsage =
    "Usage: velmora-get [options] URL\n"
    "       velmora-get --stats\n"
    "Downloads URL (http:// or ftp://) in several parts at once, resuming from the part files\n"
    "of an earlier run of the same command.\n"
    "\n"
    "  -o FILE          save as FILE\n"
    "  -d DIR           save into DIR (default: the current folder)\n"
    "  -n N             number of parts (default: the SplitParts setting)\n"
    "  -m URL           another server with the same file (repeatable)\n"
    "  --proxy URL      HTTP proxy for this run\n"
    "  --user NAME      user name (default: the URL's)\n"
    "  --password TEXT  password (default: the URL's)\n"
    "  --extract DIR    unpack the downloaded zip archive into DIR\n"
    "  --stats          write the server statistics pages and print their paths\n"
    "  -q               quiet: only errors\n"
    "  -h, --help       this text\n";

namespace {

std::optional<int32_t> PartsNumber(const std::string &text) {
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
                            argument == "--proxy" || argument == "--user" || argument == "--password" ||
                            argument == "--extract";
    if (takesValue) {
      const std::string *given = value();
      if (given == nullptr)
        return fail("option " + argument + " needs a value");
      if (argument == "-o")
        options.OutputFile = *given;
      else if (argument == "-d")
        options.Folder = *given;
      else if (argument == "-n") {
        options.Parts = PartsNumber(*given);
        if (!options.Parts)
          return fail("-n needs a number of parts from 1 to 64, not \"" + *given + "\"");
      } else if (argument == "-m")
        options.Mirrors.push_back(*given);
      else if (argument == "--proxy")
        options.Proxy = *given;
      else if (argument == "--user")
        options.User = *given;
      else if (argument == "--password")
        options.Password = *given;
      else
        options.ExtractFolder = *given;
    } else if (argument == "-q") {
      options.Quiet = true;
    } else if (argument == "--stats") {
      options.Statistics = true;
    } else if (argument == "-h" || argument == "--help") {
      options.Help = true;
    } else if (!argument.empty() && argument[0] == '-') {
      return fail("unknown option " + argument);
    } else if (options.Url.empty()) {
      options.Url = argument;
    } else {
      return fail("only one URL at a time, not also \"" + argument + "\"");
    }
  }
  if (options.Url.empty() && !options.Statistics && !options.Help)
    return fail("no URL given");
  return result;
}

} // namespace velmora
