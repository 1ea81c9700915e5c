// The job runner watched from the window's thread through its signals, over
// an in-process virtual PIC: jobs on the worker, a stop (the same token
// stops a search at its next probe: link_test.cpp), the next job started
// from Finished, errors carried back, and the runner destroyed under a
// running write. The terminal's reads and sends through the runner:
// terminal_page_test.cpp.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <chrono>
#include <thread>

#include "app/job_runner.h"
#include "engine/format.h"
#include "sim/boot_path.h"
#include "sim/in_process_link.h"
#include "tests/support/files.h"

namespace vantlebld {
namespace {

using namespace std::chrono_literals;

// The written program's remote reset, as the write's pre-codes send it.
const std::string kResetCodes("\x80\x12", 2);
constexpr char kPreCodes[] = "128 12h";

// The line into the PIC. Once hold says so, the next receive is held, as a
// slow line holds the job there, until the job's stop is asked for.
using THold = std::function<bool(const TVirtualPic&)>;
struct THeldLink : TInProcessLink {
  THeldLink(TVirtualPic& p, THold h, std::shared_ptr<const TCancelToken> u)
      : TInProcessLink(p), pic(p), hold(std::move(h)), until(std::move(u)) {}
  TReceiveResult ReceiveByte(int32_t timeoutMs) override {
    if (hold && hold(pic)) {
      hold = nullptr;
      const QDeadlineTimer deadline(30s);
      while (!until->Requested() && !deadline.hasExpired())
        std::this_thread::sleep_for(1ms);
    }
    return TInProcessLink::ReceiveByte(timeoutMs);
  }
  TVirtualPic& pic;
  THold hold;
  std::shared_ptr<const TCancelToken> until;
};

const auto kAtFirstBlock = [](const TVirtualPic& p) { return p.Stats().BlocksReceived > 0; };

class JobRunnerTest : public testing::Test {
 protected:
  static constexpr uint8_t kCode = 0x41;  // PIC18F252
  static void SetUpTestSuite() {
    ASSERT_TRUE(ReadPicCodes(test::kTable, {}));
    info = PicTable()[kCode];
    ASSERT_TRUE(DerivePicGeometry(info));
  }

  JobRunnerTest() {
    TJobRunner* r = runner.get();
    QObject::connect(r, &TJobRunner::Started, [this] { order += 'S'; });
    QObject::connect(r, &TJobRunner::Event, [this](const TJobEvent& e) {
      order += 'E';
      events.push_back(e);
    });
    QObject::connect(r, &TJobRunner::Finished, [this](const TJobResult& result) {
      order += 'F';
      results.push_back(result);
    });
  }

  // A PIC18F252 on the runner's engine, its line held as hold says.
  void Connect(const TSimOptions& options, THold hold = nullptr,
               std::shared_ptr<const TCancelToken> until = nullptr) {
    pic = std::make_unique<TVirtualPic>(kCode, info, options);
    runner->Call(
        [&](TVantleBootloader& e) { e.Link = std::make_unique<THeldLink>(*pic, hold, until); });
  }
  static TJobOptions Options(std::shared_ptr<const TCancelToken> stop) {
    return {
        .Port = "sim", .SearchSeconds = 1, .WaitMs = 100, .PreCodes = kPreCodes, .Cancel = stop};
  }
  static TJobRunner::TJob Write(std::shared_ptr<const TCancelToken> stop) {
    return [o = Options(std::move(stop))](TVantleBootloader& e) {
      return WriteJob(e, o, test::Example("pic18f252_blink"));
    };
  }
  // Runs the window's events until done() holds; false after 20 s.
  template <class F>
  static bool WaitFor(F done) {
    QTimer wake;  // the wait below wakes at least this often
    wake.start(10);
    const QDeadlineTimer deadline(20s);
    while (!done() && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
  }
  bool Finished(size_t n) {
    return WaitFor([&] { return results.size() >= n; });
  }
  template <class T>
  std::vector<T> EventsOf() const {
    std::vector<T> of;
    for (const TJobEvent& e : events)
      if (const T* t = std::get_if<T>(&e.Value)) of.push_back(*t);
    return of;
  }

  static inline TPICInfo info;
  std::unique_ptr<TVirtualPic> pic;  // outlives the runner and its link
  std::unique_ptr<TJobRunner> runner = std::make_unique<TJobRunner>();
  std::string order;  // S Started, E Event, F Finished
  std::vector<TJobEvent> events;
  std::vector<TJobResult> results;
};

TEST_F(JobRunnerTest, ACheckRunsOnTheWorkerAndAsksTheWindowOnItsOwnThread) {
  Connect({});
  QThread *jobThread = nullptr, *askThread = nullptr;
  ASSERT_TRUE(runner->Start(
      [&](TVantleBootloader& e) {
        jobThread = QThread::currentThread();
        const bool yes = runner->AskWindow([&] {
          askThread = QThread::currentThread();
          return true;
        });
        if (!yes) return TJobResult{false, "the window said no"};
        return CheckJob(e, Options(nullptr));
      },
      std::make_shared<TCancelToken>()));
  ASSERT_TRUE(Finished(1));
  EXPECT_TRUE(results[0].Ok) << results[0].Error;
  EXPECT_FALSE(runner->Busy());
  EXPECT_TRUE(order.starts_with('S') && order.find('F') == order.size() - 1) << order;
  const std::vector<TFoundEvent> found = EventsOf<TFoundEvent>();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(std::pair(found[0].Code, found[0].Model), std::pair(kCode, pic->Pic().Name));
  EXPECT_TRUE(jobThread != QThread::currentThread() && askThread == QThread::currentThread());
}

TEST_F(JobRunnerTest, AStoppedWriteLetsNothingElseRunAndIsFollowedByOneStartedFromFinished) {
  auto stop = std::make_shared<TCancelToken>(), again = std::make_shared<TCancelToken>();
  Connect({.RunAfterWrite = true, .ResetCodes = kResetCodes}, kAtFirstBlock, stop);
  QObject::connect(runner.get(), &TJobRunner::Finished, runner.get(), [&] {
    if (results.size() == 1) EXPECT_TRUE(runner->Start(Write(again), again));
  });
  ASSERT_TRUE(runner->Start(Write(stop), stop));
  ASSERT_TRUE(WaitFor([&] { return !EventsOf<TBlockSentEvent>().empty(); }));
  // Nothing else runs meanwhile.
  EXPECT_TRUE(runner->Busy());
  EXPECT_FALSE(runner->Start(Write(again), again));
  EXPECT_THROW(runner->Call([](TVantleBootloader&) {}), EVantleError);
  runner->Cancel();
  ASSERT_TRUE(Finished(2));
  const int blocks = pic->Stats().BlocksReceived - 1;  // the whole second write
  EXPECT_TRUE(results[0].Error.starts_with(Format("Stopped after block 1 of %d", blocks)))
      << results[0].Error;
  EXPECT_TRUE(results[1].Ok) << results[1].Error;
  // The port closed, the PIC leaves its bootloader the way a reset goes.
  runner->Call([](TVantleBootloader& e) { e.Disconnect(); });
  EXPECT_TRUE(pic->ProgramRunning());
  const TBootPath path = JudgeBootPath(info, pic->Flash());
  EXPECT_TRUE(path.Ok) << path.Line;
}

// What a Call throws is thrown to its caller after the events of the Call,
// an engine error with its kind; what a job throws is its error.
TEST_F(JobRunnerTest, ErrorsComeBackToTheCallerAfterTheEventsOfTheCall) {
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[] { throw EVantleError("Cannot open ttyS9", EVantleError::Kind::SerialLink); },
       "link error: Cannot open ttyS9"},
      {[] { throw std::runtime_error("Communication error 5"); }, "other: Communication error 5"},
  };
  for (const auto& [raise, caught] : cases) {
    const auto job = [&](TVantleBootloader& e) {
      e.Say(TLineRole::Step, "opening");
      raise();
      return TJobResult{true, {}};
    };
    const size_t before = events.size(), finished = results.size();
    std::string got = "nothing";
    try {
      runner->Call([&](TVantleBootloader& e) { job(e); });
    } catch (const EVantleError& e) {
      got = (e.ErrorKind() == EVantleError::Kind::SerialLink ? "link error: " : "engine: ") +
            std::string(e.what());
    } catch (const std::runtime_error& e) {
      got = "other: " + std::string(e.what());
    }
    EXPECT_EQ(got, caught);
    EXPECT_EQ(events.size(), before + 1) << "the Call's event comes before it returns";
    ASSERT_TRUE(runner->Start(job, std::make_shared<TCancelToken>()));
    ASSERT_TRUE(Finished(finished + 1));
    EXPECT_EQ(std::pair(results.back().Ok, results.back().Error),
              std::pair(false, caught.substr(caught.find(": ") + 2)));
  }
}

TEST_F(JobRunnerTest, DestroyingTheRunnerStopsTheWriteAfterTheBlockOnTheLine) {
  auto stop = std::make_shared<TCancelToken>();
  Connect({}, kAtFirstBlock, stop);
  ASSERT_TRUE(runner->Start(Write(stop), stop));
  ASSERT_TRUE(WaitFor([&] { return !EventsOf<TBlockSentEvent>().empty(); }));
  runner.reset();  // the line holds the job until the destructor's stop
  QCoreApplication::processEvents();
  EXPECT_EQ(pic->Stats().BlocksReceived, 1);
  const TBootPath path = JudgeBootPath(info, pic->Flash());
  EXPECT_TRUE(path.ReachesBootloader) << path.Line;
}

}  // namespace
}  // namespace vantlebld

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
