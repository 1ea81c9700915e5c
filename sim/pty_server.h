// Puts a virtual PIC on a pseudo-terminal, so the host opens the slave side
// exactly as it would a USB serial adapter.
//
// Bytes pass unchanged both ways (raw mode). Each answer of the PIC goes out
// DelayMs after the byte that caused it arrived; with a baud pace the line
// also takes 10 bit times per byte in each direction, like a real UART.
// Serving ends when the host closes the port after a job, when Stop() is
// called, or when the PIC hangs up (the master side is closed at once).
//
// When the PIC may run a program (RunsProgram), the host closing the port
// does not end the serving: the host opens and closes the port as it likes,
// and what the program sends while nobody holds the port is lost, as on a
// real line. The program's stream (TSimOptions::StreamRate) is paced by the
// clock and, with a baud pace, shares the line with the echo.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <optional>
#include <string>
#include <thread>

#include "sim/user_program.h"
#include "sim/virtual_pic.h"

namespace vantlebld {

class TPtyServer {
 public:
  enum class TEnd { NotEnded, HostClosed, Stopped, HungUp };

  // The PIC must outlive the server and must not be touched while serving.
  explicit TPtyServer(TVirtualPic& pic, int32_t baudPace = 0);
  ~TPtyServer();
  TPtyServer(const TPtyServer&) = delete;
  TPtyServer& operator=(const TPtyServer&) = delete;

  // Creates the pseudo-terminal and returns the slave's path (/dev/pts/N).
  // The PIC's clock starts here: this is its reset. Throws
  // std::runtime_error with the system's reason on failure.
  std::string Open();
  const std::string& SlavePath() const { return slavePath_; }

  // Serves on the calling thread until the job ends (see above).
  void Run();
  // Run() on a background thread.
  void Start();
  // Ends the serving and joins the background thread.
  void Stop();
  // Joins the background thread once the host has ended the job; rethrows
  // what Run() threw there.
  void WaitFinished();
  // Asks Run() to end soon. Safe from a signal handler and any thread.
  void RequestStop() noexcept;

  // Why Run() ended; read after it has.
  TEnd End() const { return end_; }
  // Stream bytes handed to the host so far; read after Run() has ended.
  uint64_t StreamedBytes() const { return streamed_; }

 private:
  using TClock = std::chrono::steady_clock;
  struct TOutByte {
    TClock::time_point Due;
    char Byte = 0;
    bool HangUp = false;
  };

  void TakeBytes(const char* data, size_t count);
  void Schedule(const TSimAnswer& answer, TClock::time_point from);
  bool SendDue(TClock::time_point now);
  TClock::time_point NextSend() const;
  void CloseMaster();
  int64_t MsSinceReset(TClock::time_point t) const;
  void FeedProgram(TClock::time_point now, bool slaveAbsent);
  void WriteStream();
  TClock::duration ProgramWait(TClock::time_point now) const;
  void LoseLine(bool hostJustLeft);

  TVirtualPic& pic_;
  TClock::duration byteTime_{};
  int master_ = -1;
  int wake_ = -1;
  std::string slavePath_;
  TClock::time_point reset_;
  TClock::time_point lastHandOver_;
  TClock::time_point lineFreeAt_;
  TClock::time_point retryAt_;
  std::deque<TOutByte> out_;
  std::optional<TUserStream> stream_;
  int32_t streamRun_ = 0;  // the program run the stream belongs to
  std::string streamOut_;  // stream bytes taken off the clock, not yet taken by the master
  uint64_t streamed_ = 0;
  std::atomic<bool> stopRequested_{false};
  TEnd end_ = TEnd::NotEnded;
  std::thread thread_;
  std::exception_ptr failure_;
};

}  // namespace vantlebld
