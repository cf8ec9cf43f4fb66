#include "gp/huge_pages.h"

#include <cstdint>

#include "gp/speed_knobs.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quorvalind::gp {

void advise_huge_pages(void* p, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (size < HUGE_PAGE_MIN_BYTES) return;
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t begin = (start + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = (start + size) & ~(kHuge - 1);
  // A refusal (EINVAL where transparent huge pages are off) changes nothing.
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)p;
  (void)size;
#endif
}

}  // namespace quorvalind::gp
