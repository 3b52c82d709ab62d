#include "cli/qt_application.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdlib>

namespace qarn2::cli {
namespace {

// Qt keeps references to argc and argv for the life of the application.
int argc = 1;
char name[] = "qarn2-cli";
char* argv[] = {name, nullptr};

}  // namespace

void EnsureQtApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  static QCoreApplication application(argc, argv);
}

bool EnsureGuiApplication(std::string& error) {
  if (QCoreApplication::instance() == nullptr) {
    // No display needed: the tool only paints into files.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QGuiApplication application(argc, argv);
  }
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
    error = "Qt runs here without its GUI part, which printing needs";
    return false;
  }
  return true;
}

}  // namespace qarn2::cli
