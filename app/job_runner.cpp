#include "app/job_runner.h"

#include <condition_variable>
#include <optional>
#include <stdexcept>
#include <utility>

namespace vantlebld {

// The worker's face to Qt: the context that queues work onto the thread.
class TJobRunner::TWorker : public QObject {};

// One question to the window and its answer, given once.
struct TJobRunner::TPendingAnswer {
  std::mutex Mutex;
  std::condition_variable Given;
  bool Done = false;
  bool Answer = false;

  void Give(bool answer) {
    {
      std::lock_guard lock(Mutex);
      if (Done) return;
      Done = true;
      Answer = answer;
    }
    Given.notify_all();
  }
  bool Wait() {
    std::unique_lock lock(Mutex);
    Given.wait(lock, [this] { return Done; });
    return Answer;
  }
};

namespace {

QString ReasonOf(const std::exception& e) {
  return QString::fromStdString(e.what());
}

}  // namespace

TJobRunner::TJobRunner(QObject* parent)
    : QObject(parent), worker_(new TWorker), engine_(std::make_unique<TVantleBootloader>()) {
  qRegisterMetaType<vantlebld::TJobEvent>();
  qRegisterMetaType<vantlebld::TJobResult>();
  engine_->OnEvent = [this](const TJobEvent& event) { Forward(event); };
  thread_.setObjectName("vantlebld job");
  worker_->moveToThread(&thread_);
  thread_.start();
}

TJobRunner::~TJobRunner() {
  // The job stops at its next probe or after the block on the line; a
  // question it waits on is answered no.
  if (cancel_) cancel_->Cancel();
  {
    std::lock_guard lock(askMutex_);
    closing_ = true;
    if (asking_) asking_->Give(false);
  }
  // Behind the job: the link goes on the thread that opened it, then the
  // thread ends. What the job still reports is queued to this object and
  // dropped with it.
  QMetaObject::invokeMethod(
      worker_,
      [this] {
        engine_->OnEvent = nullptr;
        engine_->Link = std::make_unique<TOfflineLink>();
        thread_.quit();
      },
      Qt::QueuedConnection);
  thread_.wait();
  delete worker_;
}

TVantleBootloader& TJobRunner::Engine() {
  return *engine_;
}

template <class F>
void TJobRunner::Post(F&& f) {
  QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
}

void TJobRunner::Forward(const TJobEvent& event) {
  if (QThread::currentThread() == thread()) {
    emit Event(event);
  } else if (callEvents_ != nullptr && QThread::currentThread() == &thread_) {
    callEvents_->push_back(event);
  } else {
    Post([this, event] { emit Event(event); });
  }
}

bool TJobRunner::Start(TJob job, std::shared_ptr<TCancelToken> cancel) {
  if (busy_ || !job) return false;
  busy_ = true;
  cancel_ = std::move(cancel);
  emit Started();
  QMetaObject::invokeMethod(
      worker_,
      [this, job = std::move(job)] {
        TJobResult result;
        try {
          result = job(*engine_);
        } catch (const std::exception& e) {
          result = {false, e.what(), {}};
        } catch (...) {
          result = {false, "Unknown error", {}};
        }
        // Queued behind every event of the job.
        Post([this, result] {
          busy_ = false;
          cancel_.reset();
          emit Finished(result);
        });
      },
      Qt::QueuedConnection);
  return true;
}

void TJobRunner::Cancel() {
  if (busy_ && cancel_) cancel_->Cancel();
}

void TJobRunner::Call(const TEngineTask& task) {
  if (busy_) throw EVantleError("Busy: a job is running");
  if (QThread::currentThread() == &thread_) {
    task(*engine_);
    return;
  }
  std::vector<TJobEvent> events;
  std::optional<EVantleError> vantleError;
  std::optional<std::runtime_error> otherError;
  QMetaObject::invokeMethod(
      worker_,
      [&] {
        callEvents_ = &events;
        try {
          task(*engine_);
        } catch (const EVantleError& e) {
          vantleError = e;
        } catch (const std::exception& e) {
          otherError.emplace(e.what());
        } catch (...) {
          otherError.emplace("Unknown error");
        }
        callEvents_ = nullptr;
      },
      Qt::BlockingQueuedConnection);
  for (const TJobEvent& event : events)
    emit Event(event);
  if (vantleError) throw *vantleError;
  if (otherError) throw *otherError;
}

void TJobRunner::Poll() {
  if (busy_ || pollQueued_.exchange(true)) return;
  QMetaObject::invokeMethod(
      worker_,
      [this] {
        pollQueued_ = false;
        if (busy_) return;
        try {
          const std::string bytes = engine_->ReadAll();
          if (bytes.empty()) return;
          Post([this, received = QByteArray(bytes.data(), qsizetype(bytes.size()))] {
            emit Received(received);
          });
        } catch (const std::exception& e) {
          Post([this, reason = ReasonOf(e)] { emit ReadFailed(reason); });
        }
      },
      Qt::QueuedConnection);
}

void TJobRunner::Send(std::string bytes) {
  // A poll asked for after this send reads after it.
  pollQueued_ = false;
  QMetaObject::invokeMethod(
      worker_,
      [this, bytes = std::move(bytes)] {
        try {
          engine_->SendString(bytes);
        } catch (const std::exception& e) {
          Post([this, reason = ReasonOf(e)] { emit ReadFailed(reason); });
        }
      },
      Qt::QueuedConnection);
}

bool TJobRunner::AskWindow(const std::function<bool()>& question) {
  if (QThread::currentThread() == thread()) return question();
  auto pending = std::make_shared<TPendingAnswer>();
  {
    std::lock_guard lock(askMutex_);
    if (closing_) return false;
    asking_ = pending;
  }
  // The question runs only while this thread waits here: the destructor
  // answers first and drops what is still queued.
  Post([pending, question] { pending->Give(question()); });
  const bool answer = pending->Wait();
  std::lock_guard lock(askMutex_);
  asking_.reset();
  return answer;
}

}  // namespace vantlebld
