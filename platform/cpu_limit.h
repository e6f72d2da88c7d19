// The last resort against a request that spins: a limit on the CPU time
// the process may still use, enforced by the kernel (RLIMIT_CPU). A process
// that passes it is ended by SIGXCPU and, like any ended process, gives up
// the database lock through the kernel.
#pragma once

#include <cstdint>

namespace Mirel {

// Lets the process use at most `seconds` more CPU time than it has used so
// far (never raising a lower limit already in force). Failures are ignored:
// the limit is a safety net, not a condition of the work.
void limit_cpu_time_from_now(int64_t seconds);

}  // namespace Mirel
