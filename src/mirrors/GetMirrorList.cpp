#include "mirrors/GetMirrorList.h"

#include "platform/FileContents.h"
#include "shell/ReportError.h"

#include <stdexcept>

namespace velmora {

namespace {

constexpr std::string_view kGetMirrorsOperation = "function GetMirrors(URL: String): TMirrorList";
// A mirror list is a few hundred lines; anything this large is not one.
constexpr uint64_t kMaxMirrorListBytes = uint64_t{16} * 1024 * 1024;

bool isBlank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

bool isComment(std::string_view line) { return line.substr(0, 2) == "//"; }

// Calls each with every line; CR LF, LF and a lone CR all end a line.
template <class Each> void forEachLine(std::string_view text, Each &&each) {
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    each(text.substr(0, end));
    if (end == std::string_view::npos)
      return;
    const std::size_t next = text.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1;
    text.remove_prefix(next);
  }
}

std::string takeField(std::string_view &rest) {
  const std::size_t comma = rest.find(',');
  if (comma == std::string_view::npos)
    return {};
  std::string field(rest.substr(0, comma));
  rest.remove_prefix(comma + 1);
  return field;
}

} // namespace

void TMirrorGroupLists::AddMirrorServer(std::unique_ptr<TMirrorServer> server, const std::string &groupName) {
  auto [found, created] = byName_.try_emplace(groupName, groups_.size());
  if (created) {
    auto group = std::make_unique<TMirrorGroupList>();
    group->Name = groupName;
    groups_.push_back(std::move(group));
  }
  groups_[found->second]->Servers.push_back(std::move(server));
}

const TMirrorGroupList *TMirrorGroupLists::Group(const std::string &name) const {
  const auto found = byName_.find(name);
  return found == byName_.end() ? nullptr : groups_[found->second].get();
}

TMirrorServer ParseMirrorEntry(std::string_view line, std::string &groupName) {
  TMirrorServer server;
  server.FirstDescription = takeField(line);
  server.SecondDescription = takeField(line);
  groupName = takeField(line);
  server.AddressPrefix = std::string(line);
  return server;
}

TMirrorList GetMirrorsFromText(std::string_view listText, std::string_view url) {
  // An editor's byte order mark would otherwise hide a comment on the first line.
  if (listText.substr(0, 3) == "\xEF\xBB\xBF")
    listText.remove_prefix(3);
  TMirrorGroupLists groups;
  forEachLine(listText, [&](std::string_view line) {
    if (isComment(line) || isBlank(line))
      return;
    std::string groupName;
    auto server = std::make_unique<TMirrorServer>(ParseMirrorEntry(line, groupName));
    const std::string &prefix = server->AddressPrefix;
    if (!prefix.empty() && url.substr(0, prefix.size()) == prefix) {
      groups.MatchedGroup = groupName;
      groups.Remainder = std::string(url.substr(prefix.size()));
    }
    groups.AddMirrorServer(std::move(server), groupName);
  });

  TMirrorList mirrors;
  // A group name is what makes a line a member of a group: a match without one yields nothing.
  const TMirrorGroupList *matched = groups.MatchedGroup.empty() ? nullptr : groups.Group(groups.MatchedGroup);
  if (matched != nullptr)
    for (const auto &server : matched->Servers)
      mirrors.Add(std::make_unique<TFileMirror>(server->AddressPrefix + groups.Remainder));
  return mirrors;
}

TMirrorList GetMirrors(std::string_view url, const std::string &mirrorListFile) {
  return Guarded(kGetMirrorsOperation, [&] {
    std::string text;
    const platform::FileResult read = platform::ReadFileContents(mirrorListFile, text, kMaxMirrorListBytes);
    if (!read)
      throw std::runtime_error(read.error);
    return GetMirrorsFromText(text, url);
  });
}

TMirrorList TLocalMirrorList::GetMirrors(const std::string &url) { return velmora::GetMirrors(url, file_); }

} // namespace velmora
