#include "engine/port_advice.h"

#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qarn2::engine {
namespace {

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The group that owns the device ("dialout" on Debian), or empty.
std::string GroupOf(const std::string& device) {
  struct stat st {};
  if (stat(device.c_str(), &st) != 0) return "";
  const group* owner = getgrgid(st.st_gid);
  return owner ? owner->gr_name : "";
}

}  // namespace

DeviceNode NodeOf(const std::string& device) {
  DeviceNode node;
  struct stat st {};
  if (stat(device.c_str(), &st) != 0) return node;
  node.exists = true;
  node.mode = st.st_mode & 07777U;
  const passwd* user = getpwuid(st.st_uid);
  node.owner = user ? user->pw_name : std::to_string(st.st_uid);
  const group* owner = getgrgid(st.st_gid);
  node.group = owner ? owner->gr_name : std::to_string(st.st_gid);
  return node;
}

bool IsActiveConsole(const std::string& device, std::string_view active_consoles) {
  char resolved[PATH_MAX];
  const std::string name = NameOf(realpath(device.c_str(), resolved) ? std::string(resolved) : device);
  std::istringstream words{std::string(active_consoles)};
  for (std::string word; words >> word;) {
    if (word == name) return true;
  }
  return false;
}

std::string ActiveConsoles() {
  std::ifstream file("/sys/class/tty/console/active");
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string PortAdvice(int system_error, const std::string& device, bool console) {
  if (console) {
    return device + " ist die Konsole des Systems und wird nicht benutzt. Wer sie wirklich meint, nennt sie "
           "ausdr\xC3\xBC" "cklich: --port COM1=" + device;
  }
  std::string advice = device + ": " + std::strerror(system_error) + ".";
  switch (system_error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      advice += " Ist der Adapter eingesteckt? Den Anschluss mit --port COMn=PFAD nennen (z. B. "
                "/dev/ttyUSB0 oder ein Name unter /dev/serial/by-id/).";
      break;
    case EACCES:
    case EPERM: {
      const std::string group = GroupOf(device);
      const std::string name = group.empty() ? "dialout" : group;
      advice += " Der Benutzer muss in der Gruppe " + name + " sein, der das Ger\xC3\xA4t geh\xC3\xB6rt: sudo usermod -aG " +
                name + " $USER, danach neu anmelden.";
      break;
    }
    case EBUSY:
      advice += " Ein anderes Programm h\xC3\xA4lt den Anschluss (ein Terminalprogramm, ModemManager); es muss ihn "
                "erst freigeben.";
      break;
    case ETIMEDOUT:
      advice += " Der Anschluss nimmt keine Zeichen mehr an: Liest die Gegenseite eines virtuellen Anschlusses "
                "nicht mehr, oder h\xC3\xA4ngt der Adapter?";
      break;
    default:
      break;
  }
  return advice;
}

}  // namespace qarn2::engine
