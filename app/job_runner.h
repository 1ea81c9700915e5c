// The window's job runner: a worker thread that owns the engine and its
// link. The window starts a job, asks it to stop, and watches it through
// queued signals; it never waits on the line itself, so it answers the
// person (and a screen reader) while a search or a write runs.
//
// The link's port belongs to the worker thread: it is opened, read,
// written and closed there only, through Call, Poll and Send.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/cancel_token.h"
#include "engine/job_events.h"
#include "engine/jobs.h"
#include "engine/vantlebld_comm.h"

Q_DECLARE_METATYPE(vantlebld::TJobEvent)
Q_DECLARE_METATYPE(vantlebld::TJobResult)

namespace vantlebld {

class TJobRunner : public QObject {
  Q_OBJECT

 public:
  using TJob = std::function<TJobResult(TVantleBootloader&)>;
  using TEngineTask = std::function<void(TVantleBootloader&)>;

  explicit TJobRunner(QObject* parent = nullptr);
  // Asks a running job to stop, waits for its end (the block on the line
  // is answered first) and ends the worker thread.
  ~TJobRunner() override;
  TJobRunner(const TJobRunner&) = delete;
  TJobRunner& operator=(const TJobRunner&) = delete;

  // The engine, for the window's settings and what a finished job found.
  // Only from the window's thread and only while no job runs.
  TVantleBootloader& Engine();
  bool Busy() const { return busy_.load(); }

  // Starts job on the worker thread: Started, then its events, then
  // Finished. False, and nothing started, while a job runs. Busy holds
  // until Finished is delivered and is false in its slots, so a slot of
  // Finished may start the next job. The job must carry cancel in its
  // options too: each job installs its own stop request on the engine.
  bool Start(TJob job, std::shared_ptr<TCancelToken> cancel);
  // Asks the running job to stop: a search at its next probe, a write
  // after the block on the line. Nothing when no job runs.
  void Cancel();

  // Runs task on the worker thread with the engine and waits for it: link
  // set-up between jobs (open, close, configure, a new link). The events it
  // reports are emitted before Call returns; an error it throws is thrown
  // here again (EVantleError with its kind, anything else as
  // std::runtime_error). Throws when a job runs. The task must not ask the
  // window (AskWindow): the window is waiting for it.
  void Call(const TEngineTask& task);

  // The terminal: one read of the link on the worker thread. What arrived
  // comes back through Received, a link that broke through ReadFailed. A
  // poll while a job runs, or while the last one still waits, is skipped.
  void Poll();
  // Bytes to the PIC's program, sent on the worker thread in order with
  // the polls; a failure comes back through ReadFailed.
  void Send(std::string bytes);

  // From a job on the worker thread: runs question on the window's thread
  // and waits for its answer (a person is asked something mid-job). False
  // without asking once the runner is being destroyed.
  bool AskWindow(const std::function<bool()>& question);

 signals:
  // All emitted on the runner's own (the window's) thread.
  void Started();
  void Event(const vantlebld::TJobEvent& event);
  void Finished(const vantlebld::TJobResult& result);
  void Received(const QByteArray& bytes);
  void ReadFailed(const QString& reason);

 private:
  class TWorker;
  struct TPendingAnswer;
  // An engine event as the runner's Event: at once on the window's thread,
  // kept for the caller during a Call, queued from a job.
  void Forward(const TJobEvent& event);
  // Runs f on the window's thread after what is queued there already.
  template <class F>
  void Post(F&& f);

  QThread thread_;
  TWorker* worker_ = nullptr;  // lives on thread_, deleted once it has ended
  // Destroyed after the thread has ended; its link is replaced by an
  // offline one on the worker first, where it was opened.
  std::unique_ptr<TVantleBootloader> engine_;
  std::atomic<bool> busy_{false};
  std::shared_ptr<TCancelToken> cancel_;
  // A poll waits on the worker: another is not queued behind it.
  std::atomic<bool> pollQueued_{false};
  // Worker thread only: where a Call keeps its events.
  std::vector<TJobEvent>* callEvents_ = nullptr;
  // The question the worker waits on, answered false by the destructor.
  std::mutex askMutex_;
  bool closing_ = false;
  std::shared_ptr<TPendingAnswer> asking_;
};

}  // namespace vantlebld
