#pragma once

#include "engine/FileMirror.h"
#include "engine/MirrorSeams.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// One entry of the mirror list: a server and the start of the addresses it serves for its group.
struct TMirrorServer {
  std::string FirstDescription;
  std::string SecondDescription;
  std::string AddressPrefix;
};

// Servers that mirror one another, in file order.
struct TMirrorGroupList {
  std::string Name;
  std::vector<std::unique_ptr<TMirrorServer>> Servers;
};

// Every group of one reading of the list, in order of first appearance, and what matched.
class TMirrorGroupLists {
public:
  // Appends server to the group of that name (exact comparison), creating the group at the end.
  void AddMirrorServer(std::unique_ptr<TMirrorServer> server, const std::string &groupName);
  const TMirrorGroupList *Group(const std::string &name) const;
  const std::vector<std::unique_ptr<TMirrorGroupList>> &Groups() const { return groups_; }

  std::string MatchedGroup; // empty when nothing matched
  std::string Remainder;    // the address after the matched prefix

private:
  std::vector<std::unique_ptr<TMirrorGroupList>> groups_;
  std::map<std::string, std::size_t> byName_;
};

// Splits an entry line: three fields ending at the first three commas (a missing comma leaves its
// field empty), then the address prefix, untrimmed, commas and all.
TMirrorServer ParseMirrorEntry(std::string_view line, std::string &groupName);

// The lookup over the text of a mirror list: the address rewritten onto every server of the group
// whose prefix the address starts with (the last matching line decides), in file order.
TMirrorList GetMirrorsFromText(std::string_view listText, std::string_view url);

// The lookup over the file; a missing or unreadable file gives an empty list, reported.
TMirrorList GetMirrors(std::string_view url, const std::string &mirrorListFile);

// The local mirror list of the data folder, read anew for every lookup so edits apply at once.
class TLocalMirrorList : public ILocalMirrorList {
public:
  explicit TLocalMirrorList(std::string mirrorListFile) : file_(std::move(mirrorListFile)) {}
  TMirrorList GetMirrors(const std::string &url) override;

private:
  std::string file_;
};

} // namespace velmora
