#pragma once

// The one Qt application object of the command-line tool, made the first time a
// command needs one and kept to the end of the process. The commands that talk to a
// track need an event loop (any application object will do); printing needs fonts
// and so a QGuiApplication, made on the offscreen platform unless QT_QPA_PLATFORM
// names another. Qt allows one application object per process, so whichever comes
// first stays: a later command that needs more than it gives is refused.

#include <string>

namespace qarn2::cli {

// Makes a QCoreApplication if there is no application object yet.
void EnsureQtApplication();
// Makes a QGuiApplication if there is no application object yet. Returns false with
// `error` set when the one there is cannot paint.
bool EnsureGuiApplication(std::string& error);

}  // namespace qarn2::cli
