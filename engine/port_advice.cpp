#include "engine/port_advice.h"

#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "engine/serial_port_list.h"

namespace qarn2::engine {
namespace {

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Octal(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777U);
  return text;
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

bool IsDeviceGroup(const std::string& group) {
  // dialout on Debian, uucp elsewhere. Not tty: its members may write to every
  // terminal of the machine, other users' included.
  static constexpr std::array<std::string_view, 2> kDeviceGroups{"dialout", "uucp"};
  for (std::string_view name : kDeviceGroups) {
    if (group == name) return true;
  }
  return false;
}

std::string AccessAdvice(const std::string& device, const DeviceNode& node, const std::string& usb_vendor,
                         const std::string& usb_product) {
  const std::string join = "sudo usermod -aG ";
  const std::string relogin = " $USER, danach neu anmelden.";
  if (!node.exists) return "Der Benutzer muss in der Gruppe dialout sein: " + join + "dialout" + relogin;
  const bool group_may = (node.mode & 060U) == 060U;
  if (IsDeviceGroup(node.group) && group_may) {
    return "Der Benutzer muss in der Gruppe " + node.group + " sein, der das Ger\xC3\xA4t geh\xC3\xB6rt: " + join +
           node.group + relogin;
  }
  const std::string why = IsDeviceGroup(node.group)
                              ? "die Gruppe darf es nicht lesen und schreiben"
                              : "der Gruppe " + node.group + " beizutreten g\xC3\xA4" "be weit mehr als diesen Anschluss";
  char resolved[PATH_MAX];
  const std::string name = NameOf(realpath(device.c_str(), resolved) ? std::string(resolved) : device);
  std::string rule = "SUBSYSTEM==\"tty\", ";
  if (!usb_vendor.empty() && !usb_product.empty()) {
    rule += "ATTRS{idVendor}==\"";
    rule += usb_vendor;
    rule += "\", ATTRS{idProduct}==\"";
    rule += usb_product;
  } else {
    rule += "KERNEL==\"";
    rule += name;
  }
  rule += "\", GROUP=\"dialout\", MODE=\"0660\"";
  std::string advice = device;
  advice += " geh\xC3\xB6rt ";
  advice += node.owner;
  advice += ':';
  advice += node.group;
  advice += " (";
  advice += Octal(node.mode);
  advice += "), und ";
  advice += why;
  advice += ". Stattdessen gibt eine udev-Regel den Anschluss der Gruppe dialout: echo '";
  advice += rule;
  advice += "' | sudo tee /etc/udev/rules.d/60-qarn2-serial.rules, dann sudo udevadm control --reload && sudo "
            "udevadm trigger";
  if (!usb_vendor.empty()) advice += " (oder den Adapter neu einstecken)";
  advice += "; dazu ";
  advice += join;
  advice += "dialout";
  advice += relogin;
  return advice;
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
      const UsbIds usb = UsbIdsOf(device);
      advice += ' ';
      advice += AccessAdvice(device, NodeOf(device), usb.vendor, usb.product);
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
