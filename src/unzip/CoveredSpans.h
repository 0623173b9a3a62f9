#pragma once

#include <cstdint>
#include <map>

namespace velmora::unzip {

// The byte ranges of the archive that entries extracted so far have claimed (local header and
// data). A legitimate archive never lets two entries share bytes; an archive whose directory
// points many entries at one stream is a bomb that would write its output again and again.
class TCoveredSpans {
public:
  // Claims [begin, end); false, claiming nothing, when it overlaps a range claimed before.
  bool Claim(uint64_t begin, uint64_t end);

private:
  std::map<uint64_t, uint64_t> spans_; // begin -> end, never overlapping
};

} // namespace velmora::unzip
