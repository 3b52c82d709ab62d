// SIGTERM aimed at every step of a save, taken by the saving thread or by another one:
// the program ends by the signal, the file is old or new and whole, and no temporary
// file is left, neither beside it nor in the temporary folder.
//
// A step is a call that makes, writes, moves or removes a file. This executable
// defines those C library functions itself: the save's calls come here, count, send
// the signal before or after the chosen one and go on to the C library's.

#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "safefile/safe_file.h"
#include "testsupport/test_files.h"

namespace {

// In the child that saves: its saving thread, the step to send SIGTERM at, the steps
// seen, and whether another thread is to take the signal.
std::atomic<pid_t> saving_thread{0};
std::atomic<int> signal_at{-1};
std::atomic<int> steps{0};
bool taken_elsewhere = false;

void Step() {
  if (saving_thread != gettid() || steps++ != signal_at) return;
  kill(getpid(), SIGTERM);
  // The saving thread blocks the signal then: the other thread has taken it once it
  // is no longer pending, and its handler is given time to do what it does.
  for (int i = 0; taken_elsewhere && i < 2000; ++i) {
    sigset_t pending;
    sigpending(&pending);
    if (!sigismember(&pending, SIGTERM)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

template <typename Function>
Function* Real(const char* name) {
  return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

// Looked up at start: a handler may call them, and dlsym may not be called there.
const struct {
  decltype(&::mkstemp) mkstemp = Real<decltype(::mkstemp)>("mkstemp");
  decltype(&::write) write = Real<decltype(::write)>("write");
  decltype(&::pwrite) pwrite = Real<decltype(::pwrite)>("pwrite");
  decltype(&::ftruncate) ftruncate = Real<decltype(::ftruncate)>("ftruncate");
  decltype(&::rename) rename = Real<decltype(::rename)>("rename");
  decltype(&::unlink) unlink = Real<decltype(::unlink)>("unlink");
} libc;

template <typename Call>
auto AsStep(Call call) {
  Step();
  const auto result = call();
  Step();
  return result;
}

}  // namespace

extern "C" {
int mkstemp(char* pattern) { return AsStep([&] { return libc.mkstemp(pattern); }); }
ssize_t write(int fd, const void* data, size_t size) { return AsStep([&] { return libc.write(fd, data, size); }); }
ssize_t pwrite(int fd, const void* data, size_t size, off_t at) {
  return AsStep([&] { return libc.pwrite(fd, data, size, at); });
}
int ftruncate(int fd, off_t size) noexcept { return AsStep([&] { return libc.ftruncate(fd, size); }); }
int rename(const char* from, const char* to) noexcept { return AsStep([&] { return libc.rename(from, to); }); }
int unlink(const char* path) noexcept { return AsStep([&] { return libc.unlink(path); }); }
}

namespace qarn2::safefile {
namespace {

namespace fs = std::filesystem;

constexpr int kStepNotReached = 3, kNotEnded = 4;

// Saves `text` into `file` in a child (as "nobody" when `plain_user` and the tests run
// as root) with SIGTERM sent at `step`, to be taken by another thread when
// `elsewhere`. The child's exit status, or minus the signal that ended it.
int SaveInChild(const fs::path& file, const std::string& text, bool plain_user, int step, bool elsewhere) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (plain_user && getuid() == 0 && !testsupport::BecomeNobody()) _exit(99);
    if (elsewhere) {
      sigset_t term;
      sigemptyset(&term);
      sigaddset(&term, SIGTERM);
      std::thread([] {
        for (;;) pause();
      }).detach();
      pthread_sigmask(SIG_BLOCK, &term, nullptr);  // only the thread made before takes it
      taken_elsewhere = true;
    }
    signal_at = step;
    saving_thread = gettid();
    WriteWhole(file.string(), text);
    if (steps <= step) _exit(kStepNotReached);
    std::this_thread::sleep_for(std::chrono::seconds(2));  // for the signal to end it
    _exit(kNotEnded);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST(SignalDuringSave, EveryStepOnEitherThreadLeavesOneWholeFileAndNothingElse) {
  const testsupport::TempFolder temp("qarn2_signal", testsupport::TempFolder::kEverybody);
  const fs::path tmp = temp.Path() / "tmp";
  setenv("TMPDIR", tmp.c_str(), 1);
  const std::string old_text(3000, 'o'), new_text(5000, 'n');
  for (bool in_place : {false, true}) {  // in place: a writable file in a folder that is not
    const fs::path folder = temp.Path() / (in_place ? "nur_lesen" : "ordner");
    const fs::path file = folder / "lok.DEC";
    for (bool elsewhere : {false, true}) {
      int status = 0;
      for (int step = 0; status != kStepNotReached; ++step) {
        SCOPED_TRACE(std::string(in_place ? "in place" : "replaced") + (elsewhere ? ", another thread" : "") +
                     ", step " + std::to_string(step));
        for (const fs::path& clean : {folder, tmp}) {
          fs::remove_all(clean);
          fs::create_directory(clean);
          fs::permissions(clean, fs::perms::all);
        }
        testsupport::Put(file, old_text);
        if (getuid() == 0) {
          ASSERT_EQ(chown(file.c_str(), testsupport::kNobody, testsupport::kNogroup), 0);
        }
        chmod(file.c_str(), 0666);
        if (in_place) chmod(folder.c_str(), 0555);
        status = SaveInChild(file, new_text, in_place, step, elsewhere);
        EXPECT_TRUE(status == kStepNotReached || status == -SIGTERM) << status;
        const std::string now = testsupport::Get(file);
        EXPECT_TRUE(now == old_text || now == new_text) << now.size() << " bytes";
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
        EXPECT_TRUE(fs::is_empty(tmp));
        chmod(folder.c_str(), 0777);
        ASSERT_LT(step, 100);
      }
    }
  }
  unsetenv("TMPDIR");
}

}  // namespace
}  // namespace qarn2::safefile
