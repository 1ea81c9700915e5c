// Reads a generated HEX file holding 8 MiB of data with the engine's
// analysis pass and with srec_cat, in one run, and prints the ratio of
// their read rates (higher is better for us).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include <QCoreApplication>

#include "bench/bench_support.h"
#include "engine/format.h"
#include "engine/vantlebld_comm.h"

namespace {

constexpr int64_t kDataBytes = 8 * 1024 * 1024;
constexpr int kBytesPerRecord = 16;  // what assemblers write
constexpr int kRounds = 3;           // best of three for each reader

void WriteHexFile(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  uint32_t lcg = 12345;
  uint8_t data[kBytesPerRecord];
  for (int64_t a = 0; a < kDataBytes; a += kBytesPerRecord) {
    if (a % 0x10000 == 0) {
      const uint8_t base[2] = {static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16)};
      out << vantlebld::bench::Record(2, 0, 4, base, "\r\n");
    }
    for (auto& b : data) {
      lcg = lcg * 1103515245u + 12345u;
      b = static_cast<uint8_t>(lcg >> 16);
    }
    out << vantlebld::bench::Record(kBytesPerRecord, static_cast<int>(a & 0xFFFF), 0, data, "\r\n");
  }
  out << ":00000001FF\r\n";
}

template <class F>
double BestSeconds(F&& f) {
  double best = 1e30;
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
    best = std::min(best, d.count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) {
    std::cerr << "srec_cat not found (Debian package srecord); ./dev.sh bench installs it\n";
    return 1;
  }
  const auto dir = std::filesystem::temp_directory_path() / "vantlebld_bench";
  std::filesystem::create_directories(dir);
  const std::string hexPath = (dir / "data8m.hex").string();
  WriteHexFile(hexPath);
  const auto fileBytes = std::filesystem::file_size(hexPath);

  vantlebld::TVantleBootloader engine;
  bool ok = true;
  const double ours = BestSeconds([&] { ok = engine.ReadHex(hexPath, false) && ok; });
  if (!ok || engine.HexByteCount != kDataBytes) {
    std::cerr << "ReadHex failed or counted " << engine.HexByteCount << " bytes\n";
    return 1;
  }
  const std::string cmd = "srec_cat '" + hexPath + "' -intel -o /dev/null -binary";
  int status = 0;
  const double theirs = BestSeconds([&] { status |= std::system(cmd.c_str()); });
  if (status != 0) {
    std::cerr << "srec_cat failed\n";
    return 1;
  }
  std::filesystem::remove(hexPath);

  const double mib = static_cast<double>(kDataBytes) / (1024.0 * 1024.0);
  std::printf("file: %.1f MB of HEX text, %.0f MiB of data\n", static_cast<double>(fileBytes) / 1e6,
              mib);
  std::printf("ReadHex (analysis): %.3f s, %.1f MiB/s\n", ours, mib / ours);
  std::printf("srec_cat:           %.3f s, %.1f MiB/s\n", theirs, mib / theirs);
  std::printf("hex read speed vs srec_cat: %.2f\n", theirs / ours);
  return 0;
}
