// The priority the threads that keep the line busy ask for, as root and as a plain
// user, and that it can be given back.

#include "serial/thread_priority.h"

#include <grp.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>
#include "testsupport/test_files.h"

namespace qarn2::serial {
namespace {

int Policy() {
  int policy = 0;
  sched_param param{};
  pthread_getschedparam(pthread_self(), &policy, &param);
  return policy;
}

TEST(ThreadPriorityTest, RealTimeWhereAllowedAndGivenBack) {
  std::string line, interface;
  int line_policy = -1;
  bool restored = false;
  // A thread of its own: the test's main thread keeps its priority whatever happens.
  std::thread([&] {
    const ThreadPriority before = CurrentThreadPriority();
    interface = RaiseThreadPriority(Urgency::kInterface);
    RestoreThreadPriority(before);
    restored = Policy() == before.policy;
    line = RaiseThreadPriority(Urgency::kLine);
    line_policy = Policy();
  }).join();
  EXPECT_TRUE(restored);
  if (geteuid() == 0) {
    EXPECT_EQ(line, "SCHED_FIFO 20");
    EXPECT_EQ(interface, "SCHED_FIFO 10");
    EXPECT_EQ(line_policy, SCHED_FIFO);
  }
}

TEST(ThreadPriorityTest, APlainUserGetsWhatTheLimitsAllow) {
  // As "nobody" with no real-time allowance and no better nice value: unchanged, and
  // no error. With an allowance of 5 (set by root before dropping): SCHED_FIFO 5.
  if (geteuid() != 0) GTEST_SKIP() << "the limits are set as root, then the user is dropped";
  for (const auto& [rtprio, expected] : {std::pair{0, "unchanged"}, std::pair{5, "SCHED_FIFO 5"}}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const rlimit rt{static_cast<rlim_t>(rtprio), static_cast<rlim_t>(rtprio)};
      const rlimit nice{0, 0};
      // Raising a hard limit needs CAP_SYS_RESOURCE, which a container may withhold.
      if (setrlimit(RLIMIT_RTPRIO, &rt) != 0 || setrlimit(RLIMIT_NICE, &nice) != 0) _exit(4);
      if (!testsupport::BecomeNobody()) _exit(3);
      _exit(RaiseThreadPriority(Urgency::kLine) == expected ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 4 && rtprio > 0) continue;  // no allowance can be made here
    EXPECT_EQ(WEXITSTATUS(status), 0) << "rtprio " << rtprio;
  }
}

}  // namespace
}  // namespace qarn2::serial
