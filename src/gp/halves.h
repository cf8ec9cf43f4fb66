#pragma once
// Work split in two halves, the second on its own POSIX thread.
#include <pthread.h>

#include <functional>

namespace quorvalind::gp {

// pthread_create's shape, so that tests can make the start fail.
using ThreadStarter = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

// Runs half(0) on the calling thread and half(1) on a new thread with
// HALF_THREAD_STACK_SIZE of stack, and returns once both have finished.
// When the thread cannot be started, half(1) runs on the calling thread
// after half(0): the halves must not wait for each other. An exception from
// either half is rethrown here after both have finished, half 0's first.
void run_halves(const std::function<void(int half)>& half, ThreadStarter start = &pthread_create);

}  // namespace quorvalind::gp
