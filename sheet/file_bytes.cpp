#include "sheet/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace qarn2::sheet {
namespace {

// The process's file creation mask. It can only be read by setting it, so it is set
// back at once; nothing else in the program creates files at the same moment.
mode_t CurrentUmask() {
  const mode_t mask = umask(022);
  umask(mask);
  return mask;
}

}  // namespace

std::optional<std::string> ReadFileBytes(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot read '" + path + "': " + std::strerror(errno);
    return std::nullopt;
  }
  std::string text;
  char buffer[8192];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  const int read_errno = errno;
  std::fclose(file);
  if (failed) {
    error = "cannot read '" + path + "': " + std::strerror(read_errno);
    return std::nullopt;
  }
  return text;
}

std::string ReplaceFileBytes(const std::string& path, const std::string& text) {
  namespace fs = std::filesystem;
  // The file a symbolic link points to is the one to replace, not the link.
  fs::path target = path;
  std::error_code error_code;
  if (fs::is_symlink(target, error_code)) {
    fs::path resolved = fs::canonical(target, error_code);
    if (!error_code) target = std::move(resolved);
  }
  // A hidden name beside the file; mkstemp fills in the Xs.
  std::string name(1, '.');
  name.append(target.filename().string()).append(".XXXXXX");
  std::string temporary = (target.parent_path() / name).string();
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    return "cannot write '" + path + "': no temporary file beside it: " + std::strerror(errno);
  }
  // mkstemp makes the file for its owner alone; it gets the old file's permissions,
  // or those any new file would get.
  struct stat original {};
  if (stat(target.c_str(), &original) == 0) {
    fchmod(fd, original.st_mode & 07777);
  } else {
    fchmod(fd, 0666 & ~CurrentUmask());
  }
  std::size_t done = 0;
  int error = 0;
  while (done < text.size() && error == 0) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno != EINTR) error = errno;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && std::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temporary.c_str());
    return "cannot write '" + path + "': " + std::strerror(error);
  }
  return "";
}

}  // namespace qarn2::sheet
