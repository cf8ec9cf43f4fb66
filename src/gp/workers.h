#pragma once
// A team of threads for the parts of one operation that split into
// independent tasks. The team lives for one call: its threads start in the
// constructor and are joined by the destructor, so none outlives the work.
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

#include "gp/halves.h"

namespace quorvalind::gp {

// How many threads an operation that can split its work uses: the value
// given to set_worker_threads, else QUORVALIND_THREADS when it holds a
// positive number (read once, at the first call), else the processors this
// process may run on; at most WORKER_THREADS_MAX. Results never depend on it.
unsigned worker_threads();
// Sets the count that worker_threads returns; 0 goes back to the default.
void set_worker_threads(unsigned count);

class WorkerTeam {
 public:
  // Starts threads - 1 helpers beside the calling thread. A helper that
  // cannot be started is done without: the team is smaller, the results
  // the same.
  explicit WorkerTeam(unsigned threads, ThreadStarter start = &pthread_create);
  ~WorkerTeam();
  WorkerTeam(const WorkerTeam&) = delete;
  WorkerTeam& operator=(const WorkerTeam&) = delete;

  // The calling thread and the helpers that started.
  unsigned size() const { return static_cast<unsigned>(helpers_.size()) + 1; }

  // Runs task(i, member) once for every i in [0, count), spread over the
  // team; member (0 for the calling thread, which takes part) tells which
  // thread runs it, so that tasks can use per-thread scratch. Returns once
  // every task has finished. When tasks throw, those not yet begun are
  // skipped, and the exception of the lowest task index that threw is
  // rethrown after all have stopped.
  using Task = std::function<void(std::size_t task, unsigned member)>;
  void run(std::size_t count, const Task& task);

 private:
  struct Helper {
    WorkerTeam* team;
    unsigned member;
    pthread_t thread;
  };
  static void* helper_main(void* arg);
  void work(unsigned member);

  std::vector<Helper> helpers_;
  std::mutex mutex_;
  std::condition_variable start_cv_, done_cv_;
  std::size_t generation_ = 0;  // bumped by every run
  unsigned busy_ = 0;           // helpers still in the current run
  bool quit_ = false;
  // The current run.
  const Task* task_ = nullptr;
  std::size_t count_ = 0;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> failed_{false};
  std::size_t error_task_ = 0;
  std::exception_ptr error_;
};

}  // namespace quorvalind::gp
