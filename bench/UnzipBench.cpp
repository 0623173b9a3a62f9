// Extracts one archive into a folder and prints the time it took: bench_unzip ARCHIVE FOLDER
#include "unzip/Unzip.h"

#include <chrono>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_unzip ARCHIVE FOLDER\n");
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  velmora::TExtractReport report = velmora::ExtractArchive(argv[1], argv[2]);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!report.Succeeded()) {
    std::fprintf(stderr, "bench_unzip: %s\n", report.ErrorText().c_str());
    return 1;
  }
  std::printf("%u entries in %.3f s\n", report.Extracted, seconds);
  return 0;
}
