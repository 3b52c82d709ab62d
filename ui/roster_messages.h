#pragma once

// What the window says about a JMRI roster it imports or a sheet it exports: German,
// UTF-8, a line each.

#include <string>
#include <vector>

#include "roster/roster_export.h"
#include "roster/roster_import.h"

namespace qarn2::ui {

// Why the file `path` could not be imported (no roster file, or none with a CV value).
std::string RosterErrorMessage(const std::string& path, const roster::RosterError& error);
// What the import left out or changed, a line each; empty when nothing.
std::vector<std::string> ImportNotes(const roster::RosterImport& imported);

// Why the sheet could not be exported.
std::string SheetErrorMessage(const roster::SheetError& error);
// What the export did: first how many CV values went into the file at `path`, then
// what it left out, a line each.
std::vector<std::string> ExportNotes(const roster::RosterExport& exported, const std::string& path);

}  // namespace qarn2::ui
