#include "bsp/csg_thread.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <system_error>

#include "bsp/node.h"
#include "gp/fault.h"
#include "gp/speed_knobs.h"

namespace quorvalind::bsp {

namespace {

enum class Outcome { Finished, Stopped, Faulted };

struct Job {
  const std::function<void(const std::atomic<bool>&)>* work;
  std::atomic<bool> stop{false};
  Outcome outcome = Outcome::Faulted;
};

void report_fault(const char* description) {
  std::fprintf(stderr, "thread '<unnamed>' panicked at src/bsp/csg_thread.cpp:\n%s\n", description);
  std::fflush(stderr);
}

void* csg_thread_main(void* arg) {
  Job* job = static_cast<Job*>(arg);
  try {
    (*job->work)(job->stop);
    job->outcome = Outcome::Finished;
  } catch (const StopRequested&) {
    job->outcome = Outcome::Stopped;
  } catch (const std::exception& e) {
    report_fault(e.what());
    job->outcome = Outcome::Faulted;
  } catch (...) {
    report_fault("unknown exception");
    job->outcome = Outcome::Faulted;
  }
  return nullptr;
}

// One csg stack mapping kept between operations. Creating a thread with a
// 256 MiB stack of its own costs a mapping, a guard page and an unmapping
// every time (the C library caches only far smaller stacks), half the cost
// of starting the thread. Operations at the same time on several threads
// find it taken and map their own.
std::atomic<void*> g_kept_stack{nullptr};

std::size_t guard_bytes() {
  const long page = sysconf(_SC_PAGESIZE);
  return page > 0 ? static_cast<std::size_t>(page) : 4096;
}

// The lowest guard_bytes() of the mapping are the guard; the stack is the
// CSG_THREAD_STACK_SIZE bytes above it.
class CsgStack {
 public:
  CsgStack() noexcept : base_(g_kept_stack.exchange(nullptr)) {
    if (base_ != nullptr) return;
    void* p = mmap(nullptr, guard_bytes() + gp::CSG_THREAD_STACK_SIZE, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (p == MAP_FAILED) return;
    if (mprotect(p, guard_bytes(), PROT_NONE) != 0) {
      munmap(p, guard_bytes() + gp::CSG_THREAD_STACK_SIZE);
      return;
    }
    base_ = p;
  }
  // Only once the thread using it has been joined.
  ~CsgStack() {
    if (base_ == nullptr) return;
    void* old = g_kept_stack.exchange(base_);
    if (old != nullptr) munmap(old, guard_bytes() + gp::CSG_THREAD_STACK_SIZE);
  }
  CsgStack(const CsgStack&) = delete;
  CsgStack& operator=(const CsgStack&) = delete;

  // Points attr at this stack; without a mapping (it could not be made),
  // lets the thread library allocate a stack of the same size.
  int set(pthread_attr_t& attr) const {
    if (base_ == nullptr) return pthread_attr_setstacksize(&attr, gp::CSG_THREAD_STACK_SIZE);
    return pthread_attr_setstack(&attr, static_cast<char*>(base_) + guard_bytes(),
                                 gp::CSG_THREAD_STACK_SIZE);
  }

 private:
  void* base_;
};

[[noreturn]] void throw_spawn_failure(int err) {
  throw gp::InternalFault("spawn csg thread: " + std::system_category().message(err));
}

// Waits for the thread in slices, calling `wait` between them. Returns true
// when the callback asked for a stop (the thread is joined either way).
bool join_in_slices(pthread_t thread, Job& job, const WaitCallback& wait) {
  while (true) {
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_nsec += gp::CSG_WAIT_SLICE_NS;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    const int rc = pthread_timedjoin_np(thread, nullptr, &deadline);
    if (rc == 0) return false;
    if (rc != ETIMEDOUT) break;  // cannot wait in slices: plain join below
    bool stop_now = false;
    try {
      stop_now = wait();
    } catch (...) {
      job.stop.store(true, std::memory_order_relaxed);
      pthread_join(thread, nullptr);
      throw;
    }
    if (stop_now) {
      job.stop.store(true, std::memory_order_relaxed);
      pthread_join(thread, nullptr);
      return true;
    }
  }
  pthread_join(thread, nullptr);
  return false;
}

}  // namespace

void run_on_csg_thread(const std::function<void(const std::atomic<bool>&)>& work,
                       const WaitCallback& wait, ThreadStarter start) {
  Job job;
  job.work = &work;
  // Declared before the thread starts, so destroyed after it is joined.
  const CsgStack stack;

  pthread_attr_t attr;
  int rc = pthread_attr_init(&attr);
  if (rc != 0) throw_spawn_failure(rc);
  rc = stack.set(attr);
  pthread_t thread;
  if (rc == 0) rc = start(&thread, &attr, &csg_thread_main, &job);
  pthread_attr_destroy(&attr);
  if (rc != 0) throw_spawn_failure(rc);

  const bool interrupted =
      wait ? join_in_slices(thread, job, wait) : (pthread_join(thread, nullptr), false);
  if (interrupted) throw Interrupted();
  // A stop without a request cannot happen; it would be a fault like any other.
  if (job.outcome != Outcome::Finished) {
    throw gp::InternalFault("csg thread panicked: Any { .. }");
  }
}

}  // namespace quorvalind::bsp
