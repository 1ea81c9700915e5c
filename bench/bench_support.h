// What the benchmarks share: Intel HEX records, a full PIC18F252 image,
// and vantlebld-sim started as a child process on a pseudo-terminal.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/format.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld::bench {

constexpr uint8_t kPic18F252 = 0x41;
constexpr int32_t kBaud = 115200;
// A PIC18F252's 64-byte block is one row erase and eight 8-byte writes of
// about 2 ms each (datasheet): 18 ms in all.
constexpr int32_t kWriteMs = 18;

// One record with its checksum and the line end given.
inline std::string Record(int count, int address, int type, const uint8_t* data,
                          const char* lineEnd = "\n") {
  unsigned sum = static_cast<unsigned>(count + (address >> 8) + (address & 0xFF) + type);
  std::string line = Format(":%02X%04X%02X", count, address, type);
  for (int i = 0; i < count; ++i) {
    line += Format("%02X", data[i]);
    sum += data[i];
  }
  return line + Format("%02X", (0x100 - (sum & 0xFF)) & 0xFF) + lineEnd;
}

// Every byte below the bootloader zone of a PIC18, a GOTO 100h at 0 first;
// another seed gives other bytes.
inline void WriteFullImage(const std::string& path, int32_t zoneStart, uint32_t seed = 7) {
  std::ofstream out(path);
  uint8_t data[16];
  uint32_t lcg = seed;
  for (int32_t a = 0; a < zoneStart; a += 16) {
    for (auto& b : data) {
      lcg = lcg * 1103515245u + 12345u;
      b = static_cast<uint8_t>(lcg >> 16);
    }
    if (a == 0) data[0] = 0x80, data[1] = 0xEF, data[2] = 0x00, data[3] = 0xF0;
    out << Record(std::min(16, zoneStart - a), a, 0, data);
  }
  out << ":00000001FF\n";
}

// The project's device table read, and a full-flash PIC18F252 file named
// name in a scratch folder; returns the file's path.
inline std::string FullImageFile(const std::string& piccodes, const std::string& name) {
  TVantleBootloader table;
  table.LoadPicCodesFile(piccodes);
  TPICInfo pic = PicTable()[kPic18F252];
  DerivePicGeometry(pic);
  const auto dir = std::filesystem::temp_directory_path() / "vantlebld_bench";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / name).string();
  WriteFullImage(path, pic.StartBldZone);
  return path;
}

struct TChild {
  pid_t Pid = -1;
  std::string FirstLine;  // what it printed first on stdout
};

// In a forked child: becomes args[0] with args, or ends with 127.
[[noreturn]] inline void Exec(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

// Starts args[0]. With firstLine its stdout is a pipe and the call returns
// once it printed its first line (or closed stdout); without, its stdout
// goes nowhere.
inline TChild StartChild(std::vector<std::string> args, bool firstLine = true) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid == 0) {
    if (firstLine) {
      dup2(fds[1], STDOUT_FILENO);
    } else {
      freopen("/dev/null", "w", stdout);
    }
    close(fds[0]);
    Exec(args);
  }
  close(fds[1]);
  TChild child{pid, {}};
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n')
    child.FirstLine += c;
  close(fds[0]);
  return child;
}

// The child's exit code, or -1 when it did not exit normally.
inline int WaitChild(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// vantlebld-sim with a PIC18F252 and the options given; returns its pid
// and its pseudo-terminal.
inline TChild StartSim(const std::string& simPath, const std::string& piccodes,
                       const std::vector<std::string>& extra) {
  std::vector<std::string> args = {simPath, "--code", "41h", "--piccodes", piccodes};
  args.insert(args.end(), extra.begin(), extra.end());
  TChild sim = StartChild(args);
  if (sim.FirstLine.rfind("PTY ", 0) != 0)
    throw std::runtime_error("vantlebld-sim did not start: " + sim.FirstLine);
  sim.FirstLine = sim.FirstLine.substr(4);
  return sim;
}

// Finds the PIC on port, then writes hex: the milliseconds from the first
// block to the last answer (the search and the connection not counted).
// The engine comes with its link, table and search settings.
inline double TimedWrite(TVantleBootloader& engine, const std::string& port,
                         const std::string& hex) {
  engine.Connect(port, kBaud);
  engine.AnalyzeHex(hex);
  if (!engine.SearchPIC(false)) throw std::runtime_error("the virtual PIC did not answer");
  engine.ReadHex(hex, true);
  engine.ReallocateReset();
  const auto t0 = std::chrono::steady_clock::now();
  engine.WriteFlash(false);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  engine.Disconnect();
  return ms;
}

}  // namespace vantlebld::bench
