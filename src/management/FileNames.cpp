#include "management/FileNames.h"

#include "store/IndependentGeneralFunctions.h"

namespace velmora {

namespace {

constexpr std::size_t kMaxKeptExtensionBytes = 32;

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }
bool IsContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

// The first bytes of text, at most limit of them, ending before a UTF-8 character that would be cut.
std::string_view HeadAtCharacter(std::string_view text, std::size_t limit) {
  if (text.size() <= limit)
    return text;
  std::size_t end = limit;
  while (end > 0 && IsContinuationByte(static_cast<unsigned char>(text[end])))
    --end;
  return text.substr(0, end);
}

} // namespace

std::string CleanFileName(std::string_view name) {
  std::string cleaned;
  cleaned.reserve(name.size());
  for (const char c : name) {
    if (c == '/')
      cleaned += '_';
    else if (!IsControl(static_cast<unsigned char>(c)))
      cleaned += c;
  }
  if (cleaned.empty() || cleaned == "." || cleaned == "..")
    return std::string(kDefaultDownloadName);
  if (cleaned.size() <= kMaxDerivedNameBytes)
    return cleaned;
  const std::size_t dot = cleaned.rfind('.');
  const std::string_view extension =
      dot != std::string::npos && dot > 0 && cleaned.size() - dot <= kMaxKeptExtensionBytes
          ? std::string_view(cleaned).substr(dot)
          : std::string_view();
  const std::string_view stem = std::string_view(cleaned).substr(0, cleaned.size() - extension.size());
  return std::string(HeadAtCharacter(stem, kMaxDerivedNameBytes - extension.size())) + std::string(extension);
}

std::string FileNameFromUrl(const TUrl &url) { return CleanFileName(DecodeSpaces(url.FileName)); }

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty())
    return folder;
  while (folder.size() > 1 && folder.ends_with('/'))
    folder.pop_back();
  if (!folder.ends_with('/'))
    folder += '/';
  return folder;
}

} // namespace velmora
