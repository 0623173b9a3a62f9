// Feeds arbitrary streams to one decompressor.
#include "UnzipFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  velmora::fuzzing::DecodeOne(velmora::zmDeflated, data, size);
  return 0;
}
