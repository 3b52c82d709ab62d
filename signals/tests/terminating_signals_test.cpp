// The clean-ups run when SIGINT, SIGTERM, SIGHUP or SIGQUIT ends the program, each
// once, in the order registered, and the signal then goes on as it would have: to the
// handler that was there before, or to its default. The same signals make up the set
// held off while a file is replaced. Each case runs in a child of its own, since the
// handler is installed once per process.

#include "signals/terminating_signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace qarn2::signals {
namespace {

int out_fd = -1;  // the pipe to the test, in the child
void Note(char c) { [[maybe_unused]] const ssize_t n = write(out_fd, &c, 1); }
void First() { Note('1'); }
void Second() { Note('2'); }
void Earlier(int) {
  Note('p');
  _exit(7);
}

struct ChildEnd {
  std::string noted;
  int status = 0;
};

ChildEnd InChild(const std::function<void()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    out_fd = fds[1];
    body();
    _exit(0);
  }
  close(fds[1]);
  ChildEnd end;
  char buffer[64];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) end.noted.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  waitpid(pid, &end.status, 0);
  return end;
}

class EachTerminatingSignalTest : public testing::TestWithParam<int> {};

TEST_P(EachTerminatingSignalTest, CleanupsRunOnceEachThenTheSignalEndsTheProgram) {
  const int signal_number = GetParam();
  const ChildEnd end = InChild([signal_number] {
    const rlimit no_core{0, 0};  // SIGQUIT's default would leave a core file
    setrlimit(RLIMIT_CORE, &no_core);
    signal(signal_number, SIG_DFL);  // the test may have been started with it ignored
    RunOnTerminatingSignal(First);
    RunOnTerminatingSignal(Second);
    RunOnTerminatingSignal(First);
    raise(signal_number);
    Note('x');  // never reached
  });
  EXPECT_EQ(end.noted, "12");
  ASSERT_TRUE(WIFSIGNALED(end.status));
  EXPECT_EQ(WTERMSIG(end.status), signal_number);

  // And it is among those held off while a file is replaced.
  const sigset_t held_off = TerminatingSignalSet();
  EXPECT_EQ(sigismember(&held_off, signal_number), 1);
}

std::string SignalName(const testing::TestParamInfo<int>& info) { return sigabbrev_np(info.param); }
INSTANTIATE_TEST_SUITE_P(, EachTerminatingSignalTest, testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT), SignalName);

TEST(TerminatingSignalsTest, TheSignalGoesOnToTheHandlerThereBefore) {
  const ChildEnd end = InChild([] {
    struct sigaction earlier {};
    earlier.sa_handler = Earlier;
    sigaction(SIGTERM, &earlier, nullptr);
    RunOnTerminatingSignal(First);
    raise(SIGTERM);
  });
  EXPECT_EQ(end.noted, "1p");
  ASSERT_TRUE(WIFEXITED(end.status));
  EXPECT_EQ(WEXITSTATUS(end.status), 7);
}

TEST(TerminatingSignalsTest, AnIgnoredSignalStaysIgnored) {
  const ChildEnd end = InChild([] {
    signal(SIGTERM, SIG_IGN);
    RunOnTerminatingSignal(First);
    raise(SIGTERM);
    Note('a');  // still running
  });
  EXPECT_EQ(end.noted, "a");
  ASSERT_TRUE(WIFEXITED(end.status));
  EXPECT_EQ(WEXITSTATUS(end.status), 0);
}

}  // namespace
}  // namespace qarn2::signals
