#pragma once
// Huge-page advice for large buffers that are about to be filled once.
#include <cstddef>
#include <memory>

namespace quorvalind::gp {

// Asks the kernel to back the 2 MiB-aligned part of [p, p + size) with huge
// pages. Filling fresh memory page by page costs one fault per 4 KiB, which
// for the tens of MB a writer fills is as much as the work itself. Only a
// hint: contents are untouched, and it is skipped below HUGE_PAGE_MIN_BYTES
// and where the system has no such advice.
void advise_huge_pages(void* p, std::size_t size);

// An uninitialised array of n trivially constructible T for a pass that
// writes every element before reading it, advised as above.
template <class T>
std::unique_ptr<T[]> fresh_array(std::size_t n) {
  std::unique_ptr<T[]> a(new T[n]);
  advise_huge_pages(a.get(), n * sizeof(T));
  return a;
}

}  // namespace quorvalind::gp
