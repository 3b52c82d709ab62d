#include "safefile/safe_file.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
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

// --- What a signal finds half done ---------------------------------------------------
//
// SIGINT, SIGTERM, SIGHUP or SIGQUIT (signals::kTerminatingSignals) may come while a
// file is being written. The handler (on whatever thread the signal lands) removes the
// new file not yet renamed, or puts the old contents of a file written in place back,
// and then lets the signal do what it would have done. Only async-signal-safe calls
// are made there.

struct PendingWrite {
  std::atomic<int> kind{0};  // 0 nothing, 1 a new file to remove, 2 a file to restore
  char new_file[PATH_MAX] = {};
  int fd = -1;  // the file written in place
  const char* old_data = nullptr;
  std::size_t old_size = 0;
  char backup[PATH_MAX] = {};
};
PendingWrite pending;

void UndoPendingWrite() {
  switch (pending.kind.load()) {
    case 1:
      unlink(pending.new_file);
      break;
    case 2: {
      std::size_t done = 0;
      while (done < pending.old_size) {
        const ssize_t n = pwrite(pending.fd, pending.old_data + done, pending.old_size - done,
                                 static_cast<off_t>(done));
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      // The copy stays if the old contents could not all be put back.
      if (done == pending.old_size && ftruncate(pending.fd, static_cast<off_t>(done)) == 0) {
        fsync(pending.fd);
        unlink(pending.backup);
      }
      break;
    }
    default:
      break;
  }
  pending.kind = 0;
}

// Registered the first time a file is written.
void GuardAgainstSignals() { signals::RunOnTerminatingSignal(UndoPendingWrite); }

class PendingScope {
 public:
  // Makes the new file from `pattern` (mkstemp's XXXXXX at its end) and has it
  // removed if the program is ended before the scope ends. The signals wait while the
  // file is made, so that none finds it made and not yet known. `fd` is -1 (errno
  // set) when no file could be made.
  PendingScope(std::string& pattern, int& fd) {
    GuardAgainstSignals();
    const sigset_t terminating = signals::TerminatingSignalSet();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &terminating, &before);
    fd = mkstemp(pattern.data());
    const int error = errno;
    if (fd >= 0) {
      std::strncpy(pending.new_file, pattern.c_str(), sizeof pending.new_file - 1);
      pending.kind = 1;
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error;
  }
  // A file written in place, whose old contents are to be put back.
  PendingScope(int fd, const std::string& old_contents, const std::string& backup) {
    GuardAgainstSignals();
    pending.fd = fd;
    pending.old_data = old_contents.data();
    pending.old_size = old_contents.size();
    std::strncpy(pending.backup, backup.c_str(), sizeof pending.backup - 1);
    pending.kind = 2;
  }
  ~PendingScope() { pending.kind = 0; }
  PendingScope(const PendingScope&) = delete;
  PendingScope& operator=(const PendingScope&) = delete;
};

// --- Writing -------------------------------------------------------------------------

// A copy of `old_contents` in the temporary folder, on disk; its path, or empty.
std::string SafeCopy(const std::string& name, const std::string& old_contents, int& error) {
  const char* folder = getenv("TMPDIR");
  std::string path = std::string(folder && *folder ? folder : "/tmp") + "/" + name + ".old.XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) {
    error = errno;
    return "";
  }
  const bool ok = WriteAll(fd, old_contents, error) && fsync(fd) == 0;
  if (!ok && error == 0) error = errno;
  close(fd);
  if (!ok) {
    unlink(path.c_str());
    return "";
  }
  return path;
}

// The folder cannot take a new file, but the file itself may be written: its old
// contents are put safely aside first, and back on any failure.
std::string WriteInPlace(const Target& target, std::string_view bytes) {
  const int fd = open(target.resolved.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Reason(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_ino != target.inode || st.st_dev != target.device) {
    close(fd);
    return "the file changed while the program worked";
  }
  std::string old_contents;
  std::string problem;
  {
    std::optional<std::string> read = ReadRegularFile(target.resolved, problem);
    if (!read) {
      close(fd);
      return problem;
    }
    old_contents = std::move(*read);
  }
  int error = 0;
  const std::string backup = SafeCopy(NameOf(target.resolved), old_contents, error);
  if (backup.empty()) {
    close(fd);
    return "no safe copy of the old contents: " + Reason(error);
  }
  bool ok = false;
  {
    PendingScope scope(fd, old_contents, backup);
    std::size_t done = 0;
    ok = true;
    while (ok && done < bytes.size()) {
      const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = n < 0 ? errno : EIO;
        ok = false;
      } else {
        done += static_cast<std::size_t>(n);
      }
    }
    if (ok && ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) {
      error = errno;
      ok = false;
    }
    if (ok && fsync(fd) != 0) {
      error = errno;
      ok = false;
    }
    if (!ok) UndoPendingWrite();  // the old contents back, the copy gone if that worked
  }
  close(fd);
  if (ok) {
    unlink(backup.c_str());
    return "";
  }
  struct stat kept {};
  if (stat(backup.c_str(), &kept) == 0) return Reason(error) + "; the old contents are in " + backup;
  return Reason(error);
}

std::string ReplaceWithNewFile(const Target& target, std::string_view bytes) {
  const std::string folder = FolderOf(target.resolved);
  std::string temporary = folder + "/." + NameOf(target.resolved) + ".XXXXXX";
  int fd = -1;
  PendingScope scope(temporary, fd);
  if (fd < 0) {
    const int error = errno;
    if (target.kind == Target::kRegularFile && (error == EACCES || error == EPERM || error == EROFS)) {
      return WriteInPlace(target, bytes);
    }
    return "no new file in " + folder + ": " + Reason(error);
  }
  int error = 0;
  bool ok = WriteAll(fd, bytes, error);
  if (target.kind == Target::kRegularFile) {
    fchmod(fd, target.mode & 07777);
    // Only root may give a file away; a plain user keeps the file as the user's.
    if (fchown(fd, target.owner, target.group) != 0 && getuid() != 0) {
      (void)fchown(fd, static_cast<uid_t>(-1), target.group);
    }
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
  if (ok && rename(temporary.c_str(), target.resolved.c_str()) != 0) {
    error = errno;
    ok = false;
  }
  if (!ok) {
    unlink(temporary.c_str());
    return Reason(error);
  }
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return "";
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
