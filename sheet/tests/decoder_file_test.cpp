#include "sheet/decoder_file.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include "testsupport/test_files.h"

namespace qarn2::sheet {
namespace {

namespace fs = std::filesystem;

using testsupport::Get;
using testsupport::Put;

struct TempFolder : testsupport::TempFolder {
  TempFolder() : testsupport::TempFolder("qarn2_sheet") {}
};

std::string OpenMessage(const std::string& path) {
  return "Datei " + path + " kann nicht ge\xC3\xB6" "ffnet werden";
}
std::string CreateMessage(const std::string& path) {
  return "Datei " + path + " kann nicht erstellt werden";
}

// The message of the SheetFileError that `action` throws; "" when it throws none.
template <typename Action>
std::string ErrorOf(Action action) {
  try {
    action();
  } catch (const SheetFileError& error) {
    return error.what();
  }
  return "";
}

TEST(ReadDecoderFileTest, EveryLineEndBecomesCrLf) {
  const TempFolder folder;
  const struct {
    const char* name;
    std::string file;
    std::string text;
  } cases[] = {
      {"LF only", "*dir\n1 3 Adresse\n29 6\n", "*dir\r\n1 3 Adresse\r\n29 6\r\n"},
      {"CR only", "*dir\r1 3 Adresse\r29 6", "*dir\r\n1 3 Adresse\r\n29 6"},
      {"CR LF stays", "1 3\r\n\r\n29 6\r\n", "1 3\r\n\r\n29 6\r\n"},
      {"mixed", "a\nb\rc\r\nd", "a\r\nb\r\nc\r\nd"},
      // Two line ends each, not one.
      {"CR CR LF", "a\r\r\nb", "a\r\n\r\nb"},
      {"LF CR", "a\n\rb", "a\r\n\r\nb"},
      {"only line ends", "\n\r\r\n", "\r\n\r\n\r\n"},
  };
  for (const auto& c : cases) {
    const std::string path = folder.File("lines.DEC");
    Put(path, c.file);
    EXPECT_EQ(ReadDecoderFile(path), c.text) << c.name;
  }
}

TEST(ReadDecoderFileTest, TheBytesComeThroughUpToTheFirstNul) {
  const TempFolder folder;
  std::string high;
  for (int b = 0x80; b <= 0xFF; ++b) high += static_cast<char>(b);
  std::string low;  // every other byte, the line ends and NUL aside
  for (int b = 1; b < 0x80; ++b) {
    if (b != '\r' && b != '\n') low += static_cast<char>(b);
  }
  const std::string long_line = "1 3 " + std::string(5000, 'x');
  const struct {
    const char* name;
    std::string file;
    std::string text;
  } cases[] = {
      {"umlauts", "4 5 Bremsverz\xF6gerung\r\n\xC4\xD6\xDC\xE4\xFC\xDF", "4 5 Bremsverz\xF6gerung\r\n\xC4\xD6\xDC\xE4\xFC\xDF"},
      {"0x80..0xFF", high + "\n" + high, high + "\r\n" + high},
      {"0x01..0x7F", low, low},
      {"5000 characters", long_line + "\n29 6", long_line + "\r\n29 6"},
      {"empty", "", ""},
      {"NUL inside", std::string("1 3\n29\0 6\r\n4 5", 14), "1 3\r\n29"},
      {"NUL first", std::string("\0abc", 4), ""},
  };
  for (const auto& c : cases) {
    const std::string path = folder.File("bytes.DEC");
    Put(path, c.file);
    EXPECT_EQ(ReadDecoderFile(path), c.text) << c.name;
  }
}

TEST(ReadDecoderFileTest, AFileThatCannotBeReadNamesItself) {
  const TempFolder folder;
  const std::string missing = folder.File("fehlt.DEC");
  EXPECT_EQ(ErrorOf([&] { ReadDecoderFile(missing); }), OpenMessage(missing));
  const std::string a_folder = folder.Path().string();
  EXPECT_EQ(ErrorOf([&] { ReadDecoderFile(a_folder); }), OpenMessage(a_folder));
  // The name in the message as the system gives it (UTF-8), also outside Windows-1252.
  for (const char* name : {"Lok\xC3\xA4.DEC", "\xC5\x81\xC3\xB3\x64\xC5\xBA.DEC"}) {  // Lokä, Łódź
    const std::string named = folder.File(name);
    EXPECT_EQ(ErrorOf([&] { ReadDecoderFile(named); }), OpenMessage(named));
  }
}

TEST(WriteDecoderFileTest, WritesTheTextAsItStandsAndReadsItBack) {
  const TempFolder folder;
  std::string text = "*pag\r\nLok\r\n1 3 Adresse\r\n4 5 Bremsverz\xF6gerung\r\n";
  for (int b = 0x80; b <= 0xFF; ++b) text += static_cast<char>(b);
  const std::string path = folder.File("lok1");
  WriteDecoderFile(path, text);
  EXPECT_EQ(Get(path), text);  // nothing added at the end
  EXPECT_EQ(ReadDecoderFile(path), text);
  WriteDecoderFile(path, "29 6");  // replaced whole, shorter
  EXPECT_EQ(Get(path), "29 6");
  WriteDecoderFile(path, "");
  EXPECT_EQ(Get(path), "");

  // A new file gets the permissions any new file gets; a replaced one keeps its own.
  const mode_t saved_mask = umask(027);
  const std::string fresh = folder.File("neu.DEC");
  WriteDecoderFile(fresh, "1 3");
  umask(saved_mask);
  EXPECT_EQ(fs::status(fresh).permissions(), fs::perms(0640));
  fs::permissions(path, fs::perms(0604));
  WriteDecoderFile(path, "1 4");
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0604));

  // Through a symbolic link the file it points to is replaced.
  const std::string link = folder.File("link.DEC");
  fs::create_symlink(path, link);
  WriteDecoderFile(link, "1 3\r\n");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Get(path), "1 3\r\n");
}

// Only the old file and what the test put there: no temporary file left behind.
int FilesIn(const fs::path& folder) {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
  return count;
}

TEST(WriteDecoderFileTest, AFailedSaveLeavesTheOldFileWhole) {
  const TempFolder folder;
  const std::string nowhere = folder.File("fehlt/lok.DEC");
  EXPECT_EQ(ErrorOf([&] { WriteDecoderFile(nowhere, "1 3"); }), CreateMessage(nowhere));

  // The disk fills up in the middle of the save: a file size limit stops the write
  // after 4 KiB, long before the new text's end.
  const std::string path = folder.File("voll.DEC");
  const std::string old_text = "1 3 Adresse\r\n29 6 Konfiguration\r\n";
  Put(path, old_text);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string message =
      ErrorOf([&] { WriteDecoderFile(path, std::string(100000, 'x')); });
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(message, CreateMessage(path));
  EXPECT_EQ(Get(path), old_text);
  EXPECT_EQ(FilesIn(folder.Path()), 1);
}

TEST(DecoderFilePermissionsTest, WhatTheUserMayNotTouchFails) {
  // Permissions stop a plain user only: as root the checks run as "nobody" in a child.
  const TempFolder folder;
  fs::permissions(folder.Path(), fs::perms::all);
  const std::string locked = folder.File("gesperrt.DEC");
  const std::string protected_file = folder.File("schreibgeschuetzt.DEC");
  const std::string in_place = folder.File("lok.DEC");
  const std::string fresh = folder.File("neu.DEC");
  Put(locked, "1 3\r\n");
  Put(protected_file, "1 3\r\n");
  Put(in_place, "1 3\r\n");
  fs::permissions(locked, fs::perms::none);
  fs::permissions(protected_file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const bool root = geteuid() == 0;
  for (const std::string& file : {locked, protected_file, in_place, folder.Path().string()}) {
    if (root) {
      ASSERT_EQ(chown(file.c_str(), testsupport::kNobody, testsupport::kNogroup), 0) << file;
    }
  }
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (root && !testsupport::BecomeNobody()) _exit(99);
    // The folder read-only for its owner: nothing new can be made in it.
    fs::permissions(folder.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    int wrong = 0;
    wrong += ErrorOf([&] { ReadDecoderFile(locked); }) != OpenMessage(locked);
    wrong += ErrorOf([&] { WriteDecoderFile(protected_file, "1 4\r\n"); }) != CreateMessage(protected_file);
    wrong += Get(protected_file) != "1 3\r\n";
    wrong += ErrorOf([&] { WriteDecoderFile(fresh, "1 4\r\n"); }) != CreateMessage(fresh);
    wrong += fs::exists(fresh);
    // A file the user may write is written all the same, in place.
    wrong += !ErrorOf([&] { WriteDecoderFile(in_place, "1 4\r\n"); }).empty();
    wrong += Get(in_place) != "1 4\r\n";
    fs::permissions(folder.Path(), fs::perms::owner_all);
    _exit(wrong);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "cases that went wrong";
}

}  // namespace
}  // namespace qarn2::sheet
