#pragma once

// Files, folders and users for the tests that write files or run as a plain user.

#include <grp.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace qarn2::testsupport {

// The unprivileged user the tests take where they run as root.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

// A folder of the test's own under the system's temporary folder, removed with
// everything in it at the end (also where a test took its permissions away).
class TempFolder {
 public:
  enum Access { kOwner, kEverybody };
  explicit TempFolder(const std::string& prefix, Access access = kOwner) {
    std::string name = (std::filesystem::temp_directory_path() / (prefix + "_XXXXXX")).string();
    if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("no temporary folder");
    path_ = name;
    if (access == kEverybody) std::filesystem::permissions(path_, std::filesystem::perms::all);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void Put(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string Get(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Drops root for "nobody" in a child about to run a plain user's part; false when
// that is refused.
inline bool BecomeNobody() { return setgroups(0, nullptr) == 0 && setgid(kNogroup) == 0 && setuid(kNobody) == 0; }

}  // namespace qarn2::testsupport
