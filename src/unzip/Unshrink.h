#pragma once

namespace velmora {

class TBitReader;
class TOutputWindow;

// Decodes a shrunk entry (method 1): LZW with codes of 9 to 13 bits, where code 256 announces
// either a wider code (256, 1) or a partial clear (256, 2) that frees every code no other code
// extends. New codes take the lowest free slot. Decoding runs to the end of the input.
void Unshrink(TBitReader &input, TOutputWindow &output);

} // namespace velmora
