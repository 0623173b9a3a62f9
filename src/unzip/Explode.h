#pragma once

#include <cstdint>

namespace velmora {

class TBitReader;
class TOutputWindow;

// Decodes an imploded entry (method 6): Shannon-Fano coded literals, lengths and distances over
// a 4 KiB or 8 KiB dictionary, with two or three trees as the flags say. Implode has no end
// marker: decoding stops at the output window's declared size. A reference before the start
// of the output yields zeros, as the archivers that wrote this method expect.
void Explode(TBitReader &input, TOutputWindow &output, uint16_t flags);

} // namespace velmora
