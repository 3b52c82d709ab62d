// Reading and writing whole files: every kind of target, as root and as a plain user
// (the tests drop to "nobody" in a child process when they run as root), the write cut
// short by a full file system and a file size limit, and names as long as the file
// system takes. Signals during a save: signal_during_save_test.cpp.

#include "safefile/safe_file.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include "testsupport/test_files.h"

namespace qarn2::safefile {
namespace {

namespace fs = std::filesystem;
using testsupport::Get;
using testsupport::kNobody;
using testsupport::kNogroup;

void Put(const fs::path& path, const std::string& text, mode_t mode = 0644) {
  fs::remove(path);
  testsupport::Put(path, text);
  chmod(path.c_str(), mode);
}
mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st.st_mode;
}

// Runs `body` in a child process, as "nobody" when `plain_user` and the tests run as
// root; returns its exit status (-1: it ended by a signal, -2: it could not be run).
int InChild(bool plain_user, const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid < 0) return -2;
  if (pid == 0) {
    if (plain_user && getuid() == 0) {
      if (!testsupport::BecomeNobody()) _exit(99);
    }
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A folder of the test's own that "nobody" may use too.
class SafeFileTest : public ::testing::Test {
 protected:
  SafeFileTest() {
    dir_ = fs::temp_directory_path() / ("qarn2_safefile_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    chmod(dir_.c_str(), 0777);
  }
  ~SafeFileTest() override {
    // Folders made read-only by a test must be writable again to be removed.
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
      if (entry.is_directory()) chmod(entry.path().c_str(), 0777);
    }
    chmod(dir_.c_str(), 0777);
    fs::remove_all(dir_);
  }
  // Files of the folder other than `except`: what a save must not leave behind.
  int LeftOver(const fs::path& folder, const std::string& except) const {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(folder)) n += entry.path().filename() != except;
    return n;
  }
  // Gives `path` to "nobody" (when root), so that the plain user owns it.
  static void GiveAway(const fs::path& path) {
    if (getuid() == 0) {
      EXPECT_EQ(lchown(path.c_str(), kNobody, kNogroup), 0) << path;
    }
  }

  fs::path dir_;
};

TEST_F(SafeFileTest, EveryKindOfTarget) {
  // What the user sees for each kind of target, as a plain user. As root only the
  // write-protected file differs (root may write it): checked below.
  struct Case {
    const char* name;
    std::function<fs::path(const fs::path&)> make;  // returns the path to write to
    bool written;
    std::function<void(const fs::path&)> check;      // afterwards, whatever the outcome
  };
  const Case cases[] = {
      {"new file", [](const fs::path& d) { return d / "neu.DEC"; }, true,
       [](const fs::path& d) { EXPECT_EQ(Get(d / "neu.DEC"), "NEW"); }},
      {"regular file keeps its permissions",
       [](const fs::path& d) {
         Put(d / "alt.DEC", "OLD", 0640);
         GiveAway(d / "alt.DEC");
         return d / "alt.DEC";
       },
       true,
       [](const fs::path& d) {
         EXPECT_EQ(Get(d / "alt.DEC"), "NEW");
         EXPECT_EQ(ModeOf(d / "alt.DEC") & 07777, 0640u);
       }},
      {"write-protected file",
       [](const fs::path& d) {
         Put(d / "ro.DEC", "OLD", 0444);
         GiveAway(d / "ro.DEC");
         return d / "ro.DEC";
       },
       false, [](const fs::path& d) { EXPECT_EQ(Get(d / "ro.DEC"), "OLD"); }},
      {"symbolic link: its file replaced, the link kept",
       [](const fs::path& d) {
         Put(d / "ziel.DEC", "OLD");
         GiveAway(d / "ziel.DEC");
         fs::create_symlink("ziel.DEC", d / "link.DEC");
         return d / "link.DEC";
       },
       true,
       [](const fs::path& d) {
         EXPECT_TRUE(fs::is_symlink(d / "link.DEC"));
         EXPECT_EQ(Get(d / "ziel.DEC"), "NEW");
       }},
      {"dangling link: the file it names made",
       [](const fs::path& d) {
         fs::create_symlink("fehlt.DEC", d / "lose.DEC");
         return d / "lose.DEC";
       },
       true,
       [](const fs::path& d) {
         EXPECT_TRUE(fs::is_symlink(d / "lose.DEC"));
         EXPECT_EQ(Get(d / "fehlt.DEC"), "NEW");
       }},
      {"FIFO",
       [](const fs::path& d) {
         mkfifo((d / "fifo").c_str(), 0666);
         return d / "fifo";
       },
       false, [](const fs::path& d) { EXPECT_TRUE(S_ISFIFO(ModeOf(d / "fifo"))); }},
      {"device node", [](const fs::path&) { return fs::path("/dev/full"); }, false,
       [](const fs::path&) { EXPECT_TRUE(S_ISCHR(ModeOf("/dev/full"))); }},
      {"folder", [](const fs::path& d) { return d; }, false, [](const fs::path& d) { EXPECT_TRUE(fs::is_directory(d)); }},
      {"folder missing", [](const fs::path& d) { return d / "nicht" / "da.DEC"; }, false,
       [](const fs::path& d) { EXPECT_FALSE(fs::exists(d / "nicht")); }},
  };
  for (bool as_root : {false, true}) {
    if (as_root && getuid() != 0) continue;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (as_root ? " (root)" : " (plain user)"));
      const fs::path sub = dir_ / (std::string(as_root ? "r_" : "u_") + std::to_string(&c - cases));
      fs::create_directory(sub);
      chmod(sub.c_str(), 0777);
      GiveAway(sub);
      const fs::path target = c.make(sub);
      const bool root_writes = as_root && std::string(c.name) == "write-protected file";
      const int status = InChild(!as_root, [&] { return WriteWhole(target.string(), "NEW").empty() ? 0 : 1; });
      EXPECT_EQ(status, c.written || root_writes ? 0 : 1);
      if (root_writes) {
        EXPECT_EQ(Get(target), "NEW");
        EXPECT_EQ(ModeOf(target) & 07777, 0444u);
      } else {
        c.check(sub);
      }
      // No temporary file left beside the target.
      for (const auto& entry : fs::directory_iterator(sub)) {
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
      }
    }
  }
}

TEST_F(SafeFileTest, TheOwnerStaysWhereTheProcessMayKeepIt) {
  if (getuid() != 0) GTEST_SKIP() << "only root writes files another user owns";
  const fs::path file = dir_ / "fremd.DEC";
  Put(file, "OLD", 0664);
  GiveAway(file);
  ASSERT_EQ(WriteWhole(file.string(), "NEW"), "");
  struct stat st {};
  stat(file.c_str(), &st);
  EXPECT_EQ(st.st_uid, kNobody);
  EXPECT_EQ(st.st_gid, kNogroup);
  EXPECT_EQ(st.st_mode & 07777, 0664u);
}

// A plain user writing through the others' permission cannot keep the old group: the
// new file is in the user's own group, which gets no more than the others had.
TEST_F(SafeFileTest, AGroupThatCannotBeKeptGetsWhatTheOthersHad) {
  if (getuid() != 0) GTEST_SKIP() << "needs a file of root's that a plain user may write";
  const struct {
    mode_t old_mode;
    mode_t new_mode;
  } cases[] = {{0662, 0622}, {02646, 0666}, {0606, 0666}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.old_mode));
    const fs::path file = dir_ / "root.DEC";
    Put(file, "OLD", c.old_mode);
    chmod(file.c_str(), c.old_mode);  // past the umask, the set-group-ID bit too
    ASSERT_EQ(InChild(true, [&] { return WriteWhole(file.string(), "NEW").empty() ? 0 : 1; }), 0);
    struct stat st {};
    stat(file.c_str(), &st);
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_NE(st.st_gid, 0u);
    EXPECT_EQ(st.st_mode & 07777, c.new_mode);
    fs::remove(file);
  }
}

TEST_F(SafeFileTest, StandardOutputIsWrittenToNotReplaced) {
  const fs::path captured = dir_ / "stdout.txt";
  const int status = InChild(false, [&] {
    const int fd = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) return 2;
    return WriteWhole("/dev/stdout", "PDF").empty() ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Get(captured), "PDF");
  EXPECT_TRUE(fs::is_symlink("/dev/stdout"));

  // Appended to where standard output appends, and into a pipe, which has no name.
  Put(captured, "OLD\n");
  EXPECT_EQ(InChild(false, [&] {
              const int fd = open(captured.c_str(), O_WRONLY | O_APPEND);
              if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) return 2;
              return WriteWhole("/proc/self/fd/1", "PDF").empty() ? 0 : 1;
            }),
            0);
  EXPECT_EQ(Get(captured), "OLD\nPDF");
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  EXPECT_EQ(InChild(false, [&] {
              if (dup2(pipe_fds[1], STDOUT_FILENO) < 0) return 2;
              return WriteWhole("/dev/stdout", "PDF").empty() ? 0 : 1;
            }),
            0);
  close(pipe_fds[1]);
  char got[8] = {};
  EXPECT_EQ(read(pipe_fds[0], got, sizeof got), 3);
  EXPECT_STREQ(got, "PDF");
  close(pipe_fds[0]);
}

TEST_F(SafeFileTest, AWritableFileInAReadOnlyFolderIsWrittenInPlace) {
  const fs::path folder = dir_ / "nur_lesen";
  fs::create_directory(folder);
  const fs::path file = folder / "lok.DEC";
  Put(file, "OLD CONTENTS");
  const fs::path tmp = dir_ / "tmp";
  fs::create_directory(tmp);
  chmod(tmp.c_str(), 0777);
  GiveAway(file);
  GiveAway(folder);
  chmod(folder.c_str(), 0555);
  setenv("TMPDIR", tmp.c_str(), 1);
  // A plain user: root would write a new file into any folder.
  EXPECT_EQ(InChild(true, [&] { return WriteWhole(file.string(), "NEW").empty() ? 0 : 1; }), 0);
  EXPECT_EQ(Get(file), "NEW");
  EXPECT_EQ(LeftOver(tmp, ""), 0);  // the copy of the old contents is gone again

  // Cut short by a file size limit: the old contents come back, no copy stays.
  const int cut = InChild(true, [&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    return WriteWhole(file.string(), std::string(100000, 'x')).empty() ? 0 : 1;
  });
  EXPECT_EQ(cut, 1);
  EXPECT_EQ(Get(file), "NEW");
  EXPECT_EQ(LeftOver(tmp, ""), 0);
  unsetenv("TMPDIR");
}

TEST_F(SafeFileTest, ACutShortSaveLeavesTheOldFileWholeAndNothingBeside) {
  const std::string old_text = "29   6 Konfiguration\r\n";
  // A file size limit (what a full disk does to a write), and, where the tests may
  // mount one, a really full file system: a 64 KiB tmpfs.
  const int by_limit = InChild(false, [&] {
    Put(dir_ / "lok.DEC", old_text);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{8192, 8192};
    setrlimit(RLIMIT_FSIZE, &limit);
    return WriteWhole((dir_ / "lok.DEC").string(), std::string(100000, 'x')).empty() ? 0 : 1;
  });
  EXPECT_EQ(by_limit, 1);
  EXPECT_EQ(Get(dir_ / "lok.DEC"), old_text);
  EXPECT_EQ(LeftOver(dir_, "lok.DEC"), 0);

  const fs::path small = dir_ / "klein";
  fs::create_directory(small);
  const int full = InChild(false, [&] {
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
      return 3;  // no mounting here
    }
    Put(small / "lok.DEC", old_text);
    const bool failed = !WriteWhole((small / "lok.DEC").string(), std::string(200000, 'x')).empty();
    const bool whole = Get(small / "lok.DEC") == old_text;
    const bool alone = LeftOver(small, "lok.DEC") == 0;
    return failed && whole && alone ? 0 : 1;
  });
  if (full == 3) GTEST_SKIP() << "no tmpfs can be mounted here; the file size limit stood in";
  EXPECT_EQ(full, 0);
}

TEST_F(SafeFileTest, AnyNameTheFileSystemTakesCanBeSaved) {
  const long longest = pathconf(dir_.c_str(), _PC_NAME_MAX);
  const fs::path folder = dir_ / "ordner", tmp = dir_ / "tmp";
  fs::create_directory(tmp);
  chmod(tmp.c_str(), 0777);
  setenv("TMPDIR", tmp.c_str(), 1);
  std::string umlauts;  // two bytes each: a shortened name must not cut one in half
  while (umlauts.size() + 2 <= static_cast<std::size_t>(longest)) umlauts += "\xC3\xA4";
  // Replaced, and written in place: its folder read-only, as a plain user (root would
  // make a new file in it).
  for (bool in_place : {false, true}) {
    for (const std::string& name : {std::string(longest, 'x'), std::string(longest - 7, 'x'), umlauts}) {
      SCOPED_TRACE(std::to_string(name.size()) + (in_place ? " bytes, in place" : " bytes"));
      fs::create_directory(folder);
      Put(folder / name, "OLD", 0666);
      GiveAway(folder / name);
      chmod(folder.c_str(), in_place ? 0555 : 0777);
      EXPECT_EQ(InChild(in_place, [&] { return WriteWhole((folder / name).string(), "NEW").empty() ? 0 : 1; }), 0);
      EXPECT_EQ(Get(folder / name), "NEW");
      EXPECT_EQ(LeftOver(folder, name) + LeftOver(tmp, ""), 0);
      chmod(folder.c_str(), 0777);
      fs::remove_all(folder);
    }
  }
  unsetenv("TMPDIR");
  EXPECT_EQ(WriteWhole((dir_ / std::string(longest + 1, 'x')).string(), "NEW"), "File name too long");
}

TEST_F(SafeFileTest, ReadingTakesRegularFilesOnly) {
  std::string problem;
  EXPECT_FALSE(ReadRegularFile("/dev/zero", problem));
  EXPECT_EQ(problem, "not a regular file");
  mkfifo((dir_ / "fifo").c_str(), 0666);
  EXPECT_FALSE(ReadRegularFile((dir_ / "fifo").string(), problem));  // and does not hang
  EXPECT_EQ(problem, "not a regular file");
  EXPECT_FALSE(ReadRegularFile(dir_.string(), problem));
  EXPECT_EQ(problem, "a folder, not a file");
  EXPECT_FALSE(ReadRegularFile((dir_ / "fehlt").string(), problem));
  EXPECT_EQ(problem, "No such file or directory");
  // A file larger than any decoder sheet is refused before it is read.
  const fs::path big = dir_ / "gross";
  Put(big, "");
  fs::resize_file(big, kMaxFileSize + 1);
  EXPECT_FALSE(ReadRegularFile(big.string(), problem));
  EXPECT_EQ(problem, "larger than 16 MiB");
  fs::resize_file(big, kMaxFileSize);
  EXPECT_EQ(ReadRegularFile(big.string(), problem)->size(), kMaxFileSize);
}

}  // namespace
}  // namespace qarn2::safefile
