#include "safefile/safe_file.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "signals/terminating_signals.h"

namespace qarn2::safefile {
namespace {

// Links followed at most, as the kernel does.
constexpr int kMaxLinks = 40;

std::string Reason(int error) { return std::strerror(error); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The process's file creation mask. It can only be read by setting it, so it is set
// back at once; nothing else in the program creates files at the same moment.
mode_t CurrentUmask() {
  const mode_t mask = umask(022);
  umask(mask);
  return mask;
}

bool WriteAll(int fd, std::string_view bytes, int& error) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool IsStandardOutput(const struct stat& st) {
  struct stat out {};
  return fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == st.st_dev && out.st_ino == st.st_ino;
}

// --- Signals while a file is saved ---------------------------------------------------
//
// SIGINT, SIGTERM, SIGHUP or SIGQUIT (signals::kTerminatingSignals) may come while a
// file is saved. Undoing half a save in the signal handler cannot be made safe: the
// handler runs on whatever thread the signal lands, and while it puts old contents back
// or removes a temporary file, the saving thread goes on writing or makes its file just
// after the handler looked. So a save holds the signals off instead: the saving thread
// blocks them from before it makes its first file until it has removed its last, and
// on any other thread the handler waits until every save has ended. A save begun once
// the handler has run makes no file. Then the signal does what it would have done,
// with every file old or new and whole and no temporary file left.
//
// The held-off part of a save makes system calls only: no allocation, no lock. A
// thread the signal stopped, wherever it was, holds nothing the save needs.

std::atomic<int> saves_running{0};
std::atomic<bool> program_ending{false};

// What a save begun too late says.
constexpr char kEnding[] = "the program is being ended";

// The clean-up for the terminating signals; never runs on a saving thread.
void WaitForSaves() {
  program_ending = true;
  while (saves_running > 0) {
    const timespec a_while{0, 1000 * 1000};
    nanosleep(&a_while, nullptr);
  }
}

class HeldOffSignals {
 public:
  HeldOffSignals() {
    signals::RunOnTerminatingSignal(WaitForSaves);
    const sigset_t terminating = signals::TerminatingSignalSet();
    pthread_sigmask(SIG_BLOCK, &terminating, &before_);
    ++saves_running;
    if (program_ending) {
      --saves_running;
      begun_ = false;
    }
  }
  // A signal held off lands now.
  ~HeldOffSignals() {
    if (begun_) --saves_running;
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }
  HeldOffSignals(const HeldOffSignals&) = delete;
  HeldOffSignals& operator=(const HeldOffSignals&) = delete;

  // False once a terminating signal has come: the program is about to end.
  bool Begun() const { return begun_; }

 private:
  sigset_t before_;
  bool begun_ = true;
};

// --- Writing -------------------------------------------------------------------------

// Where a temporary file is made for `name`: in `folder`, named `lead`, as much of
// `name` as the file system's longest name leaves room for (never half a UTF-8
// character), `tail` and mkstemp's six characters. Any name the folder takes can so
// be saved.
std::string TemporaryPattern(const std::string& folder, std::string_view lead, const std::string& name,
                             std::string_view tail) {
  constexpr std::size_t kUnique = 6;
  long longest = pathconf(folder.c_str(), _PC_NAME_MAX);
  if (longest <= 0) longest = NAME_MAX;
  const std::size_t fixed = lead.size() + tail.size() + kUnique;
  std::size_t kept = std::min(name.size(), static_cast<std::size_t>(longest) - std::min<std::size_t>(fixed, longest));
  while (kept > 0 && kept < name.size() && (static_cast<unsigned char>(name[kept]) & 0xC0) == 0x80) --kept;
  std::string pattern = folder;
  if (!pattern.ends_with('/')) pattern += '/';
  pattern.append(lead).append(name, 0, kept).append(tail).append(kUnique, 'X');
  return pattern;
}

bool PwriteAll(int fd, std::string_view bytes, int& error) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// `fd` holds exactly `bytes`, on disk.
bool Rewrite(int fd, std::string_view bytes, int& error) {
  if (!PwriteAll(fd, bytes, error)) return false;
  if (ftruncate(fd, static_cast<off_t>(bytes.size())) != 0 || fsync(fd) != 0) {
    error = errno;
    return false;
  }
  return true;
}

enum class InPlace { kWritten, kNoCopy, kOldBack, kCopyKept };

// The held-off part of writing in place: `old_contents` copied into a new file from
// `copy_pattern` (changed into its name), the file rewritten, the copy removed; on a
// failure the old contents put back, and the copy removed if that worked.
InPlace WriteInPlaceHeldOff(int fd, std::string_view bytes, std::string_view old_contents, char* copy_pattern,
                            int& error) {
  const int copy = mkstemp(copy_pattern);
  if (copy < 0) {
    error = errno;
    return InPlace::kNoCopy;
  }
  bool ok = WriteAll(copy, old_contents, error);
  if (ok && fsync(copy) != 0) {
    error = errno;
    ok = false;
  }
  close(copy);
  if (!ok) {
    unlink(copy_pattern);
    return InPlace::kNoCopy;
  }
  if (Rewrite(fd, bytes, error)) {
    unlink(copy_pattern);
    return InPlace::kWritten;
  }
  int ignored = 0;
  if (!Rewrite(fd, old_contents, ignored)) return InPlace::kCopyKept;
  unlink(copy_pattern);
  return InPlace::kOldBack;
}

// The folder cannot take a new file, but the file itself may be written: its old
// contents are put safely aside first, in the temporary folder, and back on any
// failure.
std::string WriteInPlace(const Target& target, std::string_view bytes) {
  const int fd = open(target.resolved.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Reason(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_ino != target.inode || st.st_dev != target.device) {
    close(fd);
    return "the file changed while the program worked";
  }
  std::string problem;
  const std::optional<std::string> old_contents = ReadRegularFile(target.resolved, problem);
  if (!old_contents) {
    close(fd);
    return problem;
  }
  const char* folder = getenv("TMPDIR");
  std::string copy = TemporaryPattern(folder && *folder ? folder : "/tmp", "", NameOf(target.resolved), ".old.");
  int error = 0;
  bool begun = false;
  InPlace outcome = InPlace::kNoCopy;
  {
    HeldOffSignals held;
    begun = held.Begun();
    if (begun) outcome = WriteInPlaceHeldOff(fd, bytes, *old_contents, copy.data(), error);
  }
  close(fd);
  if (!begun) return kEnding;
  switch (outcome) {
    case InPlace::kWritten:
      return "";
    case InPlace::kNoCopy:
      return "no safe copy of the old contents: " + Reason(error);
    case InPlace::kOldBack:
      return Reason(error);
    case InPlace::kCopyKept:
      break;
  }
  return Reason(error) + "; the old contents are in " + copy;
}

// The held-off part of replacing the file: the new file from `pattern` (changed into
// its name) written, given the old one's permissions and owner, and renamed over it.
// False with `error` set, and nothing left, on a failure; `made` tells whether the new
// file could be made at all.
bool ReplaceHeldOff(const Target& target, std::string_view bytes, char* pattern, const char* folder, bool& made,
                    int& error) {
  const int fd = mkstemp(pattern);
  made = fd >= 0;
  if (!made) {
    error = errno;
    return false;
  }
  bool ok = WriteAll(fd, bytes, error);
  if (target.kind == Target::kRegularFile) {
    // Only root may give a file away; a plain user keeps the file as the user's, in
    // the old file's group if the user is one of it. Failing that, the group is the
    // user's own, whose members were only "others" to the old file: they get what the
    // others had. The owner first, as a change of owner clears the set-ID bits that
    // the mode then puts back.
    mode_t mode = target.mode & 07777;
    if (fchown(fd, target.owner, target.group) != 0 && fchown(fd, static_cast<uid_t>(-1), target.group) != 0) {
      mode = (mode & ~static_cast<mode_t>(S_ISGID | S_IRWXG)) | ((mode & S_IRWXO) << 3);
    }
    fchmod(fd, mode);
  } else {
    fchmod(fd, 0666 & ~CurrentUmask());
  }
  if (ok && fsync(fd) != 0) {
    error = errno;
    ok = false;
  }
  if (close(fd) != 0 && ok) {
    error = errno;
    ok = false;
  }
  if (ok) {
    // What was resolved at the start is replaced, and only if it is still a file
    // (or still nothing): never a device node or FIFO put there meanwhile.
    struct stat now {};
    if (lstat(target.resolved.c_str(), &now) == 0 && !S_ISREG(now.st_mode) && !S_ISLNK(now.st_mode)) {
      error = EEXIST;
      ok = false;
    }
  }
  if (ok && rename(pattern, target.resolved.c_str()) != 0) {
    error = errno;
    ok = false;
  }
  if (!ok) {
    unlink(pattern);
    return false;
  }
  const int dir = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

std::string ReplaceWithNewFile(const Target& target, std::string_view bytes) {
  const std::string folder = FolderOf(target.resolved);
  std::string temporary = TemporaryPattern(folder, ".", NameOf(target.resolved), ".");
  int error = 0;
  bool begun = false, made = false, replaced = false;
  {
    HeldOffSignals held;
    begun = held.Begun();
    if (begun) replaced = ReplaceHeldOff(target, bytes, temporary.data(), folder.c_str(), made, error);
  }
  if (replaced) return "";
  if (!begun) return kEnding;
  if (!made && target.kind == Target::kRegularFile && (error == EACCES || error == EPERM || error == EROFS)) {
    return WriteInPlace(target, bytes);
  }
  if (!made) return "no new file in " + folder + ": " + Reason(error);
  return Reason(error);
}

}  // namespace

std::optional<std::string> ReadRegularFile(const std::string& path, std::string& problem, std::size_t max_size) {
  // Not blocking: opening a FIFO would wait for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    problem = Reason(errno);
    return std::nullopt;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    problem = Reason(errno);
    close(fd);
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    problem = S_ISDIR(st.st_mode) ? "a folder, not a file" : "not a regular file";
    close(fd);
    return std::nullopt;
  }
  if (static_cast<std::size_t>(st.st_size) > max_size) {
    problem = "larger than " + std::to_string(max_size / (1024 * 1024)) + " MiB";
    close(fd);
    return std::nullopt;
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      problem = Reason(errno);
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > max_size) {  // it grew while being read
      problem = "larger than " + std::to_string(max_size / (1024 * 1024)) + " MiB";
      close(fd);
      return std::nullopt;
    }
  }
  close(fd);
  return text;
}

Target ResolveTarget(const std::string& path) {
  Target target;
  target.given = path;
  if (path.empty()) {
    target.problem = Reason(ENOENT);
    return target;
  }
  // The program's own standard output named through a link (/dev/stdout,
  // /proc/self/fd/1) is written to as it is: a pipe has no name to follow, and a file
  // opened for appending is to be appended to.
  {
    struct stat named {}, followed {};
    if (lstat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode) && stat(path.c_str(), &followed) == 0 &&
        IsStandardOutput(followed)) {
      target.kind = Target::kStandardOutput;
      target.resolved = path;
      return target;
    }
  }
  std::string at = path;
  struct stat st {};
  bool exists = false;
  for (int links = 0;; ++links) {
    if (lstat(at.c_str(), &st) != 0) {
      if (errno != ENOENT) {
        target.problem = Reason(errno);
        return target;
      }
      break;  // nothing there: a new file (also at the end of a dangling link)
    }
    if (!S_ISLNK(st.st_mode)) {
      exists = true;
      break;
    }
    if (links == kMaxLinks) {
      target.problem = Reason(ELOOP);
      return target;
    }
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = readlink(at.c_str(), buffer.data(), PATH_MAX);
    if (n < 0) {
      target.problem = Reason(errno);
      return target;
    }
    const std::string link(buffer.data(), static_cast<std::size_t>(n));
    at = link.starts_with('/') ? link : FolderOf(at) + "/" + link;
  }
  // The folder once and for all, so that a link put in its place later is not
  // written through.
  char folder[PATH_MAX];
  if (realpath(FolderOf(at).c_str(), folder) == nullptr) {
    target.problem = Reason(errno);
    return target;
  }
  const std::string name = NameOf(at);
  target.resolved = std::string(folder) == "/" ? "/" + name : std::string(folder) + "/" + name;
  if (!exists) {
    if (access(folder, W_OK | X_OK) != 0) {
      target.problem = Reason(errno);
      return target;
    }
    target.kind = Target::kNewFile;
    return target;
  }
  if (S_ISREG(st.st_mode)) {
    // A file the user may not write stays as it is, whatever the folder allows.
    if (access(target.resolved.c_str(), W_OK) != 0) {
      target.problem = Reason(errno);
      return target;
    }
    target.kind = Target::kRegularFile;
    target.mode = st.st_mode;
    target.owner = st.st_uid;
    target.group = st.st_gid;
    target.device = st.st_dev;
    target.inode = st.st_ino;
    return target;
  }
  if (S_ISDIR(st.st_mode)) {
    target.problem = Reason(EISDIR);
    return target;
  }
  struct stat followed {};
  if (stat(target.resolved.c_str(), &followed) == 0 && IsStandardOutput(followed)) {
    target.kind = Target::kStandardOutput;
    return target;
  }
  target.problem = "not a regular file";
  return target;
}

bool IsSameFile(const std::string& path, const Target& target) {
  struct stat st {};
  return target.kind == Target::kRegularFile && stat(path.c_str(), &st) == 0 && st.st_dev == target.device &&
         st.st_ino == target.inode;
}

std::string WriteWhole(const Target& target, std::string_view bytes) {
  switch (target.kind) {
    case Target::kRefused:
      return target.problem;
    case Target::kStandardOutput: {
      int error = 0;
      return WriteAll(STDOUT_FILENO, bytes, error) ? "" : Reason(error);
    }
    case Target::kNewFile:
    case Target::kRegularFile:
      break;
  }
  return ReplaceWithNewFile(target, bytes);
}

}  // namespace qarn2::safefile
