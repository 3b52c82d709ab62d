#include "serial/thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace qarn2::serial {
namespace {

// Real-time priorities asked for; the kernel's own threads of interrupt handling run
// at 50, which these stay below.
constexpr int kLinePriority = 20;
constexpr int kInterfacePriority = 10;
// The best nice value asked for without real-time scheduling.
constexpr int kBestNice = -10;

}  // namespace

std::string RaiseThreadPriority(Urgency urgency) {
  const int wanted = urgency == Urgency::kLine ? kLinePriority : kInterfacePriority;
  rlimit rtprio{};
  getrlimit(RLIMIT_RTPRIO, &rtprio);
  // Root (or the capability) may take any real-time priority whatever the limit says:
  // trying costs nothing.
  const int allowed = geteuid() == 0 ? wanted : static_cast<int>(std::min<rlim_t>(rtprio.rlim_cur, wanted));
  if (allowed > 0) {
    sched_param param{};
    param.sched_priority = allowed;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) {
      return "SCHED_FIFO " + std::to_string(allowed);
    }
  }
  // A nice value for this thread alone (Linux gives each thread its own).
  rlimit nice_limit{};
  getrlimit(RLIMIT_NICE, &nice_limit);
  const int best = std::max(kBestNice, 20 - static_cast<int>(nice_limit.rlim_cur));
  const pid_t thread = gettid();
  const int now = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
  if (best < now && setpriority(PRIO_PROCESS, static_cast<id_t>(thread), best) == 0) {
    return "nice " + std::to_string(best);
  }
  return "unchanged";
}

ThreadPriority CurrentThreadPriority() {
  ThreadPriority saved;
  sched_param param{};
  pthread_getschedparam(pthread_self(), &saved.policy, &param);
  saved.priority = param.sched_priority;
  saved.nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  return saved;
}

void RestoreThreadPriority(const ThreadPriority& saved) {
  sched_param param{};
  param.sched_priority = saved.priority;
  pthread_setschedparam(pthread_self(), saved.policy, &param);
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), saved.nice);
}

}  // namespace qarn2::serial
