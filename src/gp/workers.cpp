#include "gp/workers.h"

#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "gp/speed_knobs.h"

namespace quorvalind::gp {

namespace {

std::atomic<unsigned> g_threads_set{0};

unsigned processors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<unsigned>(n);
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

unsigned default_threads() {
  static const unsigned value = [] {
    if (const char* env = std::getenv("QUORVALIND_THREADS")) {
      char* end = nullptr;
      const long n = std::strtol(env, &end, 10);
      if (end != env && *end == '\0' && n > 0) {
        return static_cast<unsigned>(std::min<long>(n, WORKER_THREADS_MAX));
      }
    }
    return std::min(processors(), WORKER_THREADS_MAX);
  }();
  return value;
}

}  // namespace

unsigned worker_threads() {
  const unsigned set = g_threads_set.load(std::memory_order_relaxed);
  return set > 0 ? set : default_threads();
}

void set_worker_threads(unsigned count) {
  g_threads_set.store(std::min(count, WORKER_THREADS_MAX), std::memory_order_relaxed);
}

WorkerTeam::WorkerTeam(unsigned threads, ThreadStarter start) {
  const unsigned want = std::clamp(threads, 1u, WORKER_THREADS_MAX) - 1;
  // Reserved up front: the helpers hold pointers into the vector.
  helpers_.reserve(want);
  pthread_attr_t attr;
  if (want == 0 || pthread_attr_init(&attr) != 0) return;
  if (pthread_attr_setstacksize(&attr, WORKER_THREAD_STACK_SIZE) == 0) {
    for (unsigned m = 1; m <= want; ++m) {
      helpers_.push_back({this, m, {}});
      if (start(&helpers_.back().thread, &attr, &helper_main, &helpers_.back()) != 0) {
        helpers_.pop_back();
        break;
      }
    }
  }
  pthread_attr_destroy(&attr);
}

WorkerTeam::~WorkerTeam() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  start_cv_.notify_all();
  for (Helper& h : helpers_) pthread_join(h.thread, nullptr);
}

void* WorkerTeam::helper_main(void* arg) {
  Helper* h = static_cast<Helper*>(arg);
  WorkerTeam& team = *h->team;
  std::size_t seen = 0;
  while (true) {
    {
      std::unique_lock<std::mutex> lock(team.mutex_);
      team.start_cv_.wait(lock, [&] { return team.quit_ || team.generation_ != seen; });
      if (team.quit_) return nullptr;
      seen = team.generation_;
    }
    team.work(h->member);
    {
      const std::lock_guard<std::mutex> lock(team.mutex_);
      --team.busy_;
    }
    team.done_cv_.notify_one();
  }
}

void WorkerTeam::work(unsigned member) {
  while (!failed_.load(std::memory_order_relaxed)) {
    const std::size_t i = next_.fetch_add(1, std::memory_order_relaxed);
    if (i >= count_) return;
    try {
      (*task_)(i, member);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!error_ || i < error_task_) {
        error_ = std::current_exception();
        error_task_ = i;
      }
      failed_.store(true, std::memory_order_relaxed);
    }
  }
}

void WorkerTeam::run(std::size_t count, const Task& task) {
  if (count == 0) return;
  // One task, or no helper: on the calling thread, without a hand-over.
  const bool alone = helpers_.empty() || count == 1;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    task_ = &task;
    count_ = count;
    next_.store(0, std::memory_order_relaxed);
    failed_.store(false, std::memory_order_relaxed);
    error_ = nullptr;
    if (!alone) {
      busy_ = static_cast<unsigned>(helpers_.size());
      ++generation_;
    }
  }
  if (!alone) start_cv_.notify_all();
  work(0);
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_cv_.wait(lock, [&] { return busy_ == 0; });
    error = error_;
    error_ = nullptr;
    task_ = nullptr;
  }
  if (error) std::rethrow_exception(error);
}

}  // namespace quorvalind::gp
