// RLIMIT_CPU counted from the CPU time already used.
#include "platform/cpu_limit.h"

#include <sys/resource.h>

namespace Mirel {

void limit_cpu_time_from_now(int64_t seconds) {
  if (seconds <= 0) return;
  rusage usage{};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return;
  // The kernel counts whole seconds of user and system time together.
  const auto used = static_cast<rlim_t>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + 1);
  rlimit limit{};
  if (::getrlimit(RLIMIT_CPU, &limit) != 0) return;
  const rlim_t wanted = used + static_cast<rlim_t>(seconds);
  if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max) return;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= wanted) return;
  limit.rlim_cur = wanted;
  ::setrlimit(RLIMIT_CPU, &limit);
}

}  // namespace Mirel
