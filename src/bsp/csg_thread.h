#pragma once
// The csg worker thread: one POSIX thread per mesh-level boolean, started
// with CSG_THREAD_STACK_SIZE of stack and joined before the call returns.
#include <pthread.h>

#include <atomic>
#include <exception>
#include <functional>

namespace quorvalind::bsp {

// Runs on the waiting (calling) thread every CSG_WAIT_SLICE_NS while the csg
// thread works; returning true asks the operation to stop.
using WaitCallback = std::function<bool()>;

// The wait callback asked for a stop. The operation has been abandoned and
// its thread joined; whatever the callback recorded (for the binding: the
// pending Python exception) is the error to report.
class Interrupted : public std::exception {
 public:
  const char* what() const noexcept override { return "csg operation interrupted"; }
};

// pthread_create's shape, so that tests can make the start fail.
using ThreadStarter = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

// Runs work(stop) on a new csg thread and waits for it. `stop` becomes true
// when `wait` asks for a stop; work is expected to poll it and may end by
// throwing StopRequested.
//   - the thread cannot be started: gp::InternalFault("spawn csg thread: " +
//     the system's error text);
//   - work throws: its description goes to stderr as a fault of an unnamed
//     thread, then gp::InternalFault("csg thread panicked: Any { .. }");
//   - wait returned true: Interrupted (after the join), whatever work did;
//   - wait throws: the thread is stopped and joined, then the exception
//     propagates.
void run_on_csg_thread(const std::function<void(const std::atomic<bool>& stop)>& work,
                       const WaitCallback& wait, ThreadStarter start = &pthread_create);

}  // namespace quorvalind::bsp
