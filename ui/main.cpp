#include <QApplication>
#include <QLocale>
#include <QMessageBox>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cmdline/long_options.h"
#include "qtadapter/qt_hand_off.h"
#include "ui/app_identity.h"
#include "ui/form1.h"
#include "engine/engine.h"
#include "ui/port_settings.h"
#include "ui/program_options.h"
#include "ui/qt_translations.h"

namespace {

void ShowMessage(const std::string& message) {
  QMessageBox::warning(nullptr, "QARN2", QString::fromLocal8Bit(message.c_str()));
}

}  // namespace

int main(int argc, char** argv) {
  // The help and the version need no display.
  for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(qarn2::ui::ProgramUsage().c_str(), stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts(qarn2::cmdline::VersionLine("qarn2").c_str());
      return 0;
    }
  }
  QApplication application(argc, argv);  // takes Qt's own arguments out
  qarn2::ui::SetDesktopIdentity(application);
  if (QApplication::organizationName().isEmpty()) QApplication::setOrganizationName("qarn2");
  // Qt's dialogs speak the system's language where Qt knows it, else German.
  qarn2::ui::InstallQtTranslations(application, QLocale::system());
  std::vector<std::string> args;
  for (const QString& arg : application.arguments().mid(1)) args.push_back(arg.toStdString());
  const qarn2::ui::ParsedOptions parsed = qarn2::ui::ParseProgramOptions(args);
  if (parsed.options.help || parsed.options.version) {
    std::fputs(parsed.options.help ? qarn2::ui::ProgramUsage().c_str()
                                   : (qarn2::cmdline::VersionLine("qarn2") + "\n").c_str(),
               stdout);
    return 0;
  }
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "qarn2: %s\nTry 'qarn2 --help'.\n", parsed.error.c_str());
    return 2;
  }
  try {
    // The saved choice of devices takes the ports the command line leaves.
    qarn2::engine::Engine engine(qarn2::ui::StartOptions(parsed.options));
    // A notification that fails (a write in the background) is reported like any
    // handler's failure.
    engine.HandOff().SetErrorReporter([](std::exception_ptr error) {
      try {
        std::rethrow_exception(error);
      } catch (const std::exception& e) {
        ShowMessage(e.what());
      } catch (...) {
        ShowMessage("Unknown error");
      }
    });
    int status = 0;
    {
      qarn2::ui::TForm1 form(engine, ShowMessage);
      form.Start();
      if (!parsed.options.jmri.empty()) form.SetDefinitionsFolder(parsed.options.jmri);
      if (!parsed.options.file.empty()) form.OpenAtStart(parsed.options.file);
      form.ShowCentred();
      status = application.exec();
    }
    return status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qarn2: %s\n", e.what());
    return 1;
  }
}
