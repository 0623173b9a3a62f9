#include "engine/PartLayout.h"

#include "engine/PartFile.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <optional>
#include <string_view>

namespace velmora {

namespace {

// The offset an extension names, when it is written the way part files are named: decimal digits
// without a sign and without leading zeros, so no two names can stand for the same offset.
std::optional<int64_t> PartOffsetOf(std::string_view extension) {
  if (extension.empty() || (extension.size() > 1 && extension.front() == '0'))
    return std::nullopt;
  if (!std::all_of(extension.begin(), extension.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  int64_t offset = 0;
  const auto [end, error] = std::from_chars(extension.data(), extension.data() + extension.size(), offset);
  if (error != std::errc() || end != extension.data() + extension.size())
    return std::nullopt;
  return offset;
}

} // namespace

int64_t DivideRoundHalfEven(int64_t numerator, int64_t denominator) {
  if (denominator < 0) {
    numerator = -numerator;
    denominator = -denominator;
  }
  int64_t quotient = numerator / denominator;
  int64_t remainder = numerator % denominator;
  if (remainder < 0) { // floor division, so the remainder below compares one way only
    quotient -= 1;
    remainder += denominator;
  }
  const int64_t twice = remainder * 2;
  if (twice > denominator || (twice == denominator && quotient % 2 != 0))
    quotient += 1;
  return quotient;
}

std::vector<TPartPlan> FreshLayout(const TFreshLayoutInput &input) {
  const int64_t fileSize = input.FileSize;
  if (fileSize <= 0 || input.SmallestSplitSize * 1024 >= fileSize)
    return {};
  const int64_t fetched = std::clamp<int64_t>(input.AlreadyFetched, 0, fileSize);
  const int64_t rest = fileSize - fetched;
  int64_t parts = std::max<int64_t>(1, std::min<int64_t>(input.NumParts, rest));
  int64_t length = DivideRoundHalfEven(rest, parts);
  // Rounding up can leave nothing for the last part of a tiny file, and a first part ending at 0
  // would read as "no end": use fewer parts then.
  while (parts > 1 && (length * (parts - 1) >= rest || length + fetched <= 1))
    length = DivideRoundHalfEven(rest, --parts);

  std::vector<TPartPlan> plan;
  plan.reserve(static_cast<std::size_t>(parts));
  for (int64_t i = 1; i <= parts; ++i) {
    TPartPlan part;
    part.StartByte = i == 1 ? 0 : length * (i - 1) + fetched;
    part.EndByte = i < parts ? length * i + fetched - 1 : fileSize - 1;
    part.PartFileName = PartFileName(input.TempFileName, part.StartByte);
    part.TransferCountCache = i == 1 ? fetched : 0;
    plan.push_back(std::move(part));
  }
  return plan;
}

std::vector<TPartFileEntry> ListPartFiles(const std::string &tempFileName) {
  namespace fs = std::filesystem;
  const fs::path stem(tempFileName);
  const std::string prefix = stem.filename().string() + ".";
  fs::path folder = stem.parent_path();
  if (folder.empty())
    folder = ".";

  std::vector<TPartFileEntry> found;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
      continue;
    const std::optional<int64_t> offset = PartOffsetOf(std::string_view(name).substr(prefix.size()));
    if (!offset)
      continue;
    const std::string path = (folder / name).string();
    const std::optional<int64_t> size = PartFileSize(path);
    if (size)
      found.push_back({*offset, *size, path});
  }
  std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.Offset < b.Offset; });
  return found;
}

std::vector<TPartPlan> RebuildLayout(const std::string &tempFileName,
                                     const std::vector<TPartFileEntry> &files, int64_t fileSize) {
  std::vector<TPartPlan> plan;
  TPartPlan first;
  first.PartFileName = PartFileName(tempFileName, 0);
  plan.push_back(first);
  for (const TPartFileEntry &file : files) {
    if (fileSize > 0 && file.Offset >= fileSize)
      continue;
    if (file.Offset == 0) {
      plan.front().TransferCountCache = file.Size;
      continue;
    }
    TPartPlan part;
    part.StartByte = file.Offset;
    part.PartFileName = file.FileName;
    part.TransferCountCache = file.Size;
    plan.push_back(std::move(part));
  }

  for (std::size_t i = 0; i < plan.size(); ++i) {
    TPartPlan &part = plan[i];
    const bool last = i + 1 == plan.size();
    part.EndByte = last ? (fileSize > 0 ? fileSize - 1 : 0) : plan[i + 1].StartByte - 1;
    if (last && part.EndByte <= 0)
      continue; // no end known: only the transfer can tell when it is complete
    const int64_t length = part.EndByte - part.StartByte + 1;
    if (part.TransferCountCache < length)
      continue;
    const TPartFileFit fit = FitPartFile(part.PartFileName, length);
    if (fit == TPartFileFit::pffExact || fit == TPartFileFit::pffCut) {
      part.TransferCountCache = length;
      part.Complete = true;
    }
  }
  return plan;
}

bool AllPartsDone(const std::string &tempFileName, int64_t fileSize, bool unsizedPartDone) {
  if (fileSize <= 0)
    return unsizedPartDone && PartFileSize(PartFileName(tempFileName, 0)).has_value();
  return CompletePartFiles(tempFileName, fileSize).has_value();
}

std::optional<std::vector<std::string>> CompletePartFiles(const std::string &tempFileName, int64_t fileSize) {
  if (fileSize <= 0)
    return std::nullopt;
  std::vector<std::string> parts;
  int64_t total = 0;
  // Each step adds at least one byte, so the walk ends after at most fileSize steps.
  while (total < fileSize) {
    std::string part = PartFileName(tempFileName, total);
    const std::optional<int64_t> size = PartFileSize(part);
    if (!size || *size <= 0)
      return std::nullopt;
    total += *size;
    parts.push_back(std::move(part));
  }
  if (total != fileSize)
    return std::nullopt; // the last part reaches beyond the end
  return parts;
}

} // namespace velmora
