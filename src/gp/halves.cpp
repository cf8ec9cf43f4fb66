#include "gp/halves.h"

#include <exception>

#include "gp/speed_knobs.h"

namespace quorvalind::gp {

namespace {

struct SecondHalf {
  const std::function<void(int)>* half;
  std::exception_ptr error;
};

void* second_half_main(void* arg) {
  SecondHalf* job = static_cast<SecondHalf*>(arg);
  try {
    (*job->half)(1);
  } catch (...) {
    job->error = std::current_exception();
  }
  return nullptr;
}

bool start_thread(pthread_t& thread, SecondHalf& job, ThreadStarter start) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  int rc = pthread_attr_setstacksize(&attr, HALF_THREAD_STACK_SIZE);
  if (rc == 0) rc = start(&thread, &attr, &second_half_main, &job);
  pthread_attr_destroy(&attr);
  return rc == 0;
}

}  // namespace

void run_halves(const std::function<void(int)>& half, ThreadStarter start) {
  SecondHalf job{&half, nullptr};
  pthread_t thread;
  const bool started = start_thread(thread, job, start);
  std::exception_ptr first;
  try {
    half(0);
  } catch (...) {
    first = std::current_exception();
  }
  if (started) {
    pthread_join(thread, nullptr);
  } else if (!first) {
    second_half_main(&job);
  }
  if (first) std::rethrow_exception(first);
  if (job.error) std::rethrow_exception(job.error);
}

}  // namespace quorvalind::gp
