#pragma once

// Runs the tool's entry point as a test would from a shell, or the built tool as a
// process of its own.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace qarn2::cli::testing {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

inline Result RunCli(const std::vector<std::string>& args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  Result r;
  r.status = RunCommandLine(args, in, out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

// A child still running after this is taken to hang; SIGALRM ends it.
constexpr unsigned kWatchdogSeconds = 5;

inline std::string ReadToEnd(int fd) {
  std::string bytes;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

// The child's exit status; minus the signal that ended it.
inline int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1000;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// Runs the built tool as a process of its own, its standard output into the file
// `out_file` or, when that is empty, into a pipe read into `out`.
inline Result RunTool(const std::vector<std::string>& args, const std::string& out_file = "") {
  std::vector<std::string> words = {QARN2_CLI_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("no child");
  if (pid == 0) {
    const int out = out_file.empty() ? out_pipe[1] : open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err_pipe[1], STDERR_FILENO) < 0) _exit(126);
    alarm(kWatchdogSeconds);  // kept across exec
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  Result r;
  r.out = ReadToEnd(out_pipe[0]);  // both far below a pipe's buffer
  r.err = ReadToEnd(err_pipe[0]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  r.status = WaitFor(pid);
  return r;
}

}  // namespace qarn2::cli::testing
