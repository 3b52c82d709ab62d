// What the tool does with the user's files: a write-protected file, a link, a FIFO or
// a device named as a target or a source, a program file given as the simulated
// decoder, and a decoder file that must keep every byte it does not have to change.
//
// The cases that need a plain user run, when the tests run as root, in a child that
// has become "nobody"; those are all refused before any Qt or engine object is made.
// Whatever could hang (a FIFO, a device) runs the built tool as a process of its own
// under a watchdog, so that a hang fails the test instead of stopping the run.
//
// The printing tests come first: a process has one Qt application object, and
// printing needs it to be a QGuiApplication (see the order in cli/CMakeLists.txt).

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "cli/command_line.h"
#include "cli/tests/run_cli.h"
#include "testsupport/test_files.h"

namespace qarn2::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

using testing::Result;
using testing::RunCli;

using testsupport::Get;
using testsupport::kNobody;
using testsupport::Put;
using testing::kWatchdogSeconds;
using testing::ReadToEnd;
using testing::RunTool;
using testing::WaitFor;
// A folder of the test's own that anybody may use.
struct Folder : testsupport::TempFolder {
  Folder() : testsupport::TempFolder("qarn2_safety", kEverybody) {}
};

// Runs the tool's entry point as "nobody" in a child when the tests run as root, as
// the user running the tests otherwise.
Result RunAsPlainUser(const std::vector<std::string>& args) {
  if (geteuid() != 0) return RunCli(args);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("no child");
  if (pid == 0) {
    close(report[0]);
    alarm(kWatchdogSeconds);
    if (!testsupport::BecomeNobody()) _exit(125);
    const Result r = RunCli(args);
    const std::string bytes = r.out + '\0' + r.err;
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = write(report[1], bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    _exit(r.status);
  }
  close(report[1]);
  const std::string bytes = ReadToEnd(report[0]);
  close(report[0]);
  Result r;
  r.status = WaitFor(pid);
  const std::size_t split = bytes.find('\0');
  r.out = bytes.substr(0, split);
  if (split != std::string::npos) r.err = bytes.substr(split + 1);
  return r;
}

struct stat Lstat(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) st.st_mode = 0;
  return st;
}

const std::string kSheet = "Lok\r\n1     3 Adresse\r\n29    6 Konfiguration\r\n";
const std::string kOldBytes = "alter Inhalt\n";

TEST(FileSafetyPrintTest, APlainUserCannotReplaceAWriteProtectedFile) {
  const Folder folder;
  const std::string sheet = folder.File("lok.DEC");
  const std::string pdf = folder.File("lok.pdf");
  Put(sheet, kSheet);
  Put(pdf, kOldBytes);
  for (const std::string& path : {sheet, pdf}) {
    // The user's own file, write-protected, in a folder the user may write.
    if (geteuid() == 0) {
      ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  }
  const struct {
    std::vector<std::string> args;
    std::string path;
    std::string bytes;
  } cases[] = {
      {{"print", sheet, "--pdf", pdf}, pdf, kOldBytes},
      {{"read-all", "--virtual-time", "--in-place", sheet}, sheet, kSheet},
  };
  for (const auto& c : cases) {
    const Result r = RunAsPlainUser(c.args);
    EXPECT_EQ(r.status, kExitUsage) << c.args[0] << ": " << r.err;
    EXPECT_THAT(r.err, HasSubstr("Datei " + c.path + " kann nicht erstellt werden")) << c.args[0];
    EXPECT_EQ(r.out, "") << c.args[0];
    EXPECT_EQ(Get(c.path), c.bytes) << c.args[0];
    EXPECT_EQ(Lstat(c.path).st_mode, S_IFREG | 0444) << c.args[0];
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.File("")), fs::directory_iterator()), 2)
      << "a file was left beside them";
}

TEST(FileSafetyPrintTest, RootPrintsIntoAWriteProtectedFileAndKeepsItsModeAndOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may write a write-protected file";
  const Folder folder;
  const std::string sheet = folder.File("lok.DEC");
  const std::string pdf = folder.File("lok.pdf");
  Put(sheet, kSheet);
  Put(pdf, kOldBytes);
  ASSERT_EQ(chown(pdf.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(chmod(pdf.c_str(), 0444), 0);
  const Result r = RunCli({"print", sheet, "--pdf", pdf});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_THAT(Get(pdf), StartsWith("%PDF"));
  const struct stat st = Lstat(pdf);
  EXPECT_EQ(st.st_mode, S_IFREG | 0444);
  EXPECT_EQ(st.st_uid, kNobody);
  EXPECT_EQ(st.st_gid, kNobody);
}

TEST(FileSafetyPrintTest, LinksAreFollowedAndWhatIsNoFileIsNeverReplaced) {
  const Folder folder;
  const std::string sheet = folder.File("lok.DEC");
  Put(sheet, kSheet);
  const std::string link = folder.File("link.pdf");
  const std::string pointed_at = folder.File("ziel.pdf");
  Put(pointed_at, kOldBytes);
  fs::create_symlink("ziel.pdf", link);
  const std::string dangling = folder.File("haengt.pdf");
  const std::string named = folder.File("neu.pdf");
  fs::create_symlink("neu.pdf", dangling);

  // A link stays a link; the file it names gets the PDF, made if it was not there.
  for (const auto& [given, written] : {std::pair{link, pointed_at}, std::pair{dangling, named}}) {
    const Result r = RunCli({"print", sheet, "--pdf", given});
    EXPECT_EQ(r.status, kExitOk) << given << ": " << r.err;
    EXPECT_TRUE(fs::is_symlink(given)) << given;
    EXPECT_THAT(Get(written), StartsWith("%PDF")) << given;
  }

  const std::string sub_folder = folder.File("ordner");
  fs::create_directory(sub_folder);
  const struct {
    std::string target;
    mode_t type;
  } refused[] = {
      {"/dev/full", S_IFCHR},
      {sub_folder, S_IFDIR},
  };
  for (const auto& c : refused) {
    const Result r = RunCli({"print", sheet, "--pdf", c.target});
    EXPECT_EQ(r.status, kExitUsage) << c.target;
    EXPECT_THAT(r.err, HasSubstr("Datei " + c.target + " kann nicht erstellt werden")) << c.target;
    EXPECT_EQ(Lstat(c.target).st_mode & S_IFMT, c.type) << c.target;
  }
  if (geteuid() == 0 && !S_ISCHR(Lstat("/dev/full").st_mode)) {
    // Put the device back for whatever runs after this.
    fs::remove("/dev/full");
    mknod("/dev/full", S_IFCHR | 0666, makedev(1, 7));
    chmod("/dev/full", 0666);
    ADD_FAILURE() << "/dev/full was replaced";
  }
  EXPECT_TRUE(fs::is_empty(sub_folder));

  // A FIFO as target, in a process of its own: opening it to write would wait for a
  // reader.
  const std::string fifo = folder.File("fifo.pdf");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  const Result r = RunTool({"print", sheet, "--pdf", fifo});
  EXPECT_EQ(r.status, kExitUsage) << r.err;
  EXPECT_THAT(r.err, HasSubstr("Datei " + fifo + " kann nicht erstellt werden"));
  EXPECT_TRUE(S_ISFIFO(Lstat(fifo).st_mode));
}

TEST(FileSafetyPrintTest, DevStdoutIntoAFileWritesThePdfThere) {
  const Folder folder;
  const std::string sheet = folder.File("lok.DEC");
  const std::string out = folder.File("ausgabe.bin");
  Put(sheet, kSheet);
  const Result r = RunTool({"print", sheet, "--pdf", "/dev/stdout"}, out);
  ASSERT_EQ(r.status, kExitOk) << r.err;
  const std::string pdf = Get(out);
  EXPECT_THAT(pdf, StartsWith("%PDF"));
  EXPECT_THAT(pdf, HasSubstr("%%EOF"));
}

TEST(FileSafetyPrintTest, DevStdoutIntoAPipeWritesThePdfThere) {
  const Folder folder;
  const std::string sheet = folder.File("lok.DEC");
  Put(sheet, kSheet);
  const Result r = RunTool({"print", sheet, "--pdf", "/dev/stdout"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_THAT(r.out, StartsWith("%PDF"));
  EXPECT_THAT(r.out, HasSubstr("%%EOF"));
}

TEST(FileSafetyPrintTest, ControlCharactersAndUnassignedBytesArePrinted) {
  const Folder folder;
  const std::string sheet = folder.File("steuer.DEC");
  const std::string pdf = folder.File("steuer.pdf");
  Put(sheet,
      "Lok\x01 mit \x1B[1mSteuerzeichen\r\n"
      "1     3 \x81\x8D\x8F\x90\x9D\r\n"
      "\x1B\x01\x02\x7F\r\n"
      "29    6 Konfiguration \x9D\x81\r\n");
  const Result r = RunCli({"print", sheet, "--pdf", pdf});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(Get(pdf), StartsWith("%PDF"));
}

TEST(FileSafetyReadTest, WhatIsNoDecoderSheetIsRefusedAtOnce) {
  const Folder folder;
  const std::string fifo = folder.File("fifo.DEC");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  const std::string big = folder.File("gross.DEC");
  constexpr std::uintmax_t kBigSize = 17u * 1024 * 1024;
  Put(big, kSheet);
  fs::resize_file(big, kBigSize);  // sparse: nothing to write
  const std::string pdf = folder.File("nie.pdf");
  const std::vector<std::string> curve = {"--shape", "gerade", "--entry", "1", "--value", "5"};
  const auto with = [](std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"read-all", "--virtual-time", "/dev/zero"}, "cannot read '/dev/zero': not a regular file"},
      {{"read-all", "--virtual-time", fifo}, "cannot read '" + fifo + "': not a regular file"},
      {{"write-all", "--virtual-time", fifo}, "cannot read '" + fifo + "': not a regular file"},
      {{"read-all", "--virtual-time", big}, "cannot read '" + big + "': larger than 16 MiB"},
      {{"print", fifo, "--pdf", pdf}, "Datei " + fifo + " kann nicht geöffnet werden"},
      {{"print", "/dev/zero", "--pdf", pdf}, "Datei /dev/zero kann nicht geöffnet werden"},
      {{"print", big, "--pdf", pdf}, "Datei " + big + " kann nicht geöffnet werden"},
      {with({"curve", fifo}, curve), "Datei " + fifo + " kann nicht geöffnet werden"},
      {with({"curve", big}, curve), "Datei " + big + " kann nicht geöffnet werden"},
      {{"read", "--virtual-time", "--sim-decoder", fifo, "29"},
       "cannot read decoder file " + fifo + ": not a regular file"},
      {{"read", "--virtual-time", "--sim-decoder", big, "29"},
       "cannot read decoder file " + big + ": larger than 16 MiB"},
  };
  for (const auto& c : cases) {
    const Result r = RunTool(c.args);  // a hang ends with SIGALRM
    EXPECT_EQ(r.status, kExitUsage) << c.message;
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_EQ(r.out, "") << c.message;
  }
  EXPECT_FALSE(fs::exists(pdf));
  EXPECT_TRUE(S_ISFIFO(Lstat(fifo).st_mode));
  EXPECT_EQ(fs::file_size(big), kBigSize);
}

TEST(FileSafetySimDecoderTest, AProgramFileIsRefusedAndKeptWhole) {
  const Folder folder;
  const std::string program = folder.File("programm");
  // NUL bytes first, as a program begins; text with CV lines further on, which a
  // decoder file of its own would take.
  std::string bytes(150 * 1000, '\0');
  for (std::size_t i = 64; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131 + 7) % 256);
  bytes.replace(1000, 16, "\n29 6\n1 3\n67 9\n");
  Put(program, bytes);
  for (const std::vector<std::string>& args : {std::vector<std::string>{"read", "29"}, {"write", "29", "34"}}) {
    std::vector<std::string> run = {args[0], "--virtual-time", "--sim-decoder", program};
    run.insert(run.end(), args.begin() + 1, args.end());
    const Result r = RunCli(run);
    EXPECT_EQ(r.status, kExitUsage) << args[0];
    EXPECT_THAT(r.err, HasSubstr("cannot use " + program + " as decoder file: it holds NUL bytes")) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(fs::file_size(program), bytes.size()) << args[0];
    EXPECT_TRUE(Get(program) == bytes) << args[0] << ": the file changed";
  }
}

TEST(FileSafetySimDecoderTest, OnlyAChangedCvChangesTheFileAndOnlyItsLine) {
  const Folder folder;
  const std::string file = folder.File("lok.DEC");
  const std::vector<std::string> lines = {
      "Testlok BR 218",
      "Bemerkung: Sound ab Werk aus, Gr\xF6\xDF" "e H0  ",
      "",
      "1    3 Adresse",
      "29  14 Konfiguration",
      "67   0 Stufe 1",
      "   eingerückt: keine CV",
      "Ende",
  };
  constexpr std::size_t kCv29Line = 4;
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  Put(file, text);
  // An old time: a rewrite within the same clock tick would still show.
  const fs::file_time_type old_time = fs::last_write_time(file) - std::chrono::hours(24 * 400);
  fs::last_write_time(file, old_time);
  const ino_t inode = Lstat(file).st_ino;

  const Result read = RunCli({"read", "--virtual-time", "--sim-decoder", file, "29"});
  EXPECT_EQ(read.status, kExitOk) << read.err;
  EXPECT_EQ(read.out, "CV 29 = 14\n");
  EXPECT_TRUE(Get(file) == text) << "reading changed the file";
  EXPECT_EQ(fs::last_write_time(file), old_time);
  EXPECT_EQ(Lstat(file).st_ino, inode);

  const Result write = RunCli({"write", "--virtual-time", "--sim-decoder", file, "29", "34"});
  EXPECT_EQ(write.status, kExitOk) << write.err;
  std::vector<std::string> after;
  std::istringstream in(Get(file));
  for (std::string line; std::getline(in, line);) after.push_back(line);
  EXPECT_THAT(Get(file), ::testing::EndsWith("\nEnde\n"));
  ASSERT_EQ(after.size(), lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i == kCv29Line) {
      EXPECT_THAT(after[i], ::testing::MatchesRegex("29 +34 Konfiguration"));
    } else {
      EXPECT_TRUE(after[i] == lines[i]) << "line " << i + 1 << ": '" << after[i] << "'";
    }
  }
}

TEST(FileSafetyArgumentsTest, BadInputIsRefusedWithItsReason) {
  const Folder folder;
  const std::string sheet = folder.File("tabelle.DEC");
  std::string text;
  for (int cv = 67; cv <= 94; ++cv) text += std::to_string(cv) + " 0\r\n";
  Put(sheet, text);
  const std::string decoder = folder.File("decoder.DEC");
  const std::string on_track = " puts every port on the simulated track, but --port names COM1=/dev/ttyS7";
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"send", "123456789"}, "'123456789' is not a hex byte"},
      {{"send", "--virtual-time", "78", "1C", "EA0"}, "'EA0' is not a hex byte"},
      // The last --shape counts.
      {{"curve", sheet, "--shape", "gerade", "--shape", "nix", "--entry", "1", "--value", "5"}, "not 'nix'"},
      {{"read", "--port", "COM1=/dev/ttyS7", "--sim-decoder", decoder, "29"}, "--sim-decoder" + on_track},
      {{"read", "--port", "COM1=/dev/ttyS7", "--virtual-time", "29"}, "--virtual-time" + on_track},
      {{"read", "--simulate", "--port", "COM1=/dev/ttyS7", "29"}, "--simulate" + on_track},
      {{"send", "--port", "COM1=/dev/ttyS7", "--virtual-time", "78", "1C", "EA"}, "--virtual-time" + on_track},
  };
  for (const auto& c : cases) {
    const Result r = RunCli(c.args);
    EXPECT_EQ(r.status, kExitUsage) << c.message;
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_EQ(r.out, "") << c.message;
  }
  EXPECT_FALSE(fs::exists(decoder));

  const Result help = RunCli({"send", "--help"});
  EXPECT_EQ(help.status, kExitOk);
  EXPECT_THAT(help.out, HasSubstr("qarn2-cli send [--service]"));
  EXPECT_EQ(help.err, "");
  // The track named by --port goes with virtual time.
  const Result sim = RunCli({"read", "--port", "COM1=sim", "--virtual-time", "29"});
  EXPECT_EQ(sim.status, kExitOk) << sim.err;
  EXPECT_EQ(sim.out, "CV 29 = 6\n");
}

TEST(FileSafetyCurveTest, AnEntryAbove255CountsAs255) {
  const Folder folder;
  const std::string sheet = folder.File("kurve.DEC");
  const auto entry_in_file = [](int cv) { return cv == 80 ? 300 : 2 * (cv - 66); };
  std::string text = "Lok\r\n";
  for (int cv = 67; cv <= 94; ++cv) text += std::to_string(cv) + "  " + std::to_string(entry_in_file(cv)) + "\r\n";
  Put(sheet, text);
  const Result r = RunCli({"curve", sheet, "--shape", "einzeln", "--entry", "1", "--value", "10"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  std::istringstream out(r.out);
  int seen = 0;
  for (std::string line; std::getline(out, line);) {
    int cv = 0, value = 0;
    if (std::sscanf(line.c_str(), "%d %d", &cv, &value) != 2) continue;
    const int expected = cv == 67 ? 10 : cv == 80 ? 255 : entry_in_file(cv);
    EXPECT_EQ(value, expected) << "CV " << cv << ": " << line;
    ++seen;
  }
  EXPECT_EQ(seen, 28);
  EXPECT_EQ(Get(sheet), text);
}

}  // namespace
}  // namespace qarn2::cli
