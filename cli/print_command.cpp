#include "cli/print_command.h"

#include <QBuffer>
#include <QByteArray>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QString>

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <vector>

#include "cli/command_line.h"
#include "cli/qt_application.h"
#include "qtadapter/sheet_painter.h"
#include "safefile/safe_file.h"
#include "sheet/code_page.h"
#include "sheet/decoder_file.h"
#include "sheet/file_bytes.h"
#include "sheet/print_layout.h"

namespace qarn2::cli {
namespace {

constexpr int kExitInternal = 3;
// The PDF's resolution: 254 dots per inch make one dot the layout's 0.1 mm.
constexpr int kPdfDotsPerInch = 254;

const char kPrintUsage[] = R"(  qarn2-cli print FILE --pdf OUT.pdf
      Prints the decoder file FILE as the window's "Decoderdatei drucken" does,
      into the PDF file OUT.pdf (A4, no margins): the full name of FILE at the
      top of the first page, then the lines, 59 to a page, 20 mm from the left
      edge, in a fixed-pitch font 4 mm high. The window prints the lines as its
      pane shows them, a long line wrapped into several; here there is no pane,
      so each line of the file is one printed line and a long one runs off the
      right edge. As in the window, a NUL byte ends the text. OUT.pdf may not be
      FILE itself, under any name (exit 2).
)";

int Fail(std::ostream& err, int status, const std::string& message) {
  err << "qarn2-cli: print: " << message << '\n';
  return status;
}

struct PrintArguments {
  bool help = false;
  std::optional<std::string> pdf;
  std::vector<std::string> operands;
};

// Returns the first problem with the arguments, empty when there is none.
std::string Parse(std::span<const std::string> args, PrintArguments& parsed) {
  CommandScan scan = ScanCommand(args, std::vector<cmdline::LongOption>{{"pdf", true}},
                                 [&](std::string_view, const std::string& value) {
                                   parsed.pdf = value;
                                   return std::string();
                                 });
  parsed.help = scan.help;
  parsed.operands = std::move(scan.operands);
  return scan.error;
}

// The name the window remembers for a file it opened: with its full path.
std::string FullName(const std::string& path) {
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
  return absolute.empty() ? path : absolute.lexically_normal().string();
}

// True when `output` names the file `input` itself: the same path, another way to it,
// a link or a hard link, or /dev/stdout redirected into it.
bool SameFile(const std::string& input, const std::string& output) {
  struct stat in {};
  struct stat out {};
  return stat(input.c_str(), &in) == 0 && stat(output.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
         in.st_ino == out.st_ino;
}

// The printout as a PDF document; nullopt with `error` set when it cannot be made.
std::optional<QByteArray> PrintToPdf(const sheet::PrintLayout& layout, const std::string& title,
                                     std::string& error) {
  if (!EnsureGuiApplication(error)) return std::nullopt;
  QBuffer pdf;
  pdf.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&pdf);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    writer.setResolution(kPdfDotsPerInch);
    writer.setTitle(QString::fromStdString(title));
    writer.setCreator(QStringLiteral("qarn2-cli"));
    if (!qtadapter::PaintPrintLayout(writer, layout, error)) return std::nullopt;
  }
  return pdf.data();
}

}  // namespace

std::string PrintUsage() { return kPrintUsage; }

int RunPrint(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  PrintArguments parsed;
  if (const std::string error = Parse(args, parsed); !error.empty()) {
    return Fail(err, kExitUsage, error);
  }
  if (parsed.help) {
    out << "Usage:\n" << kPrintUsage;
    return kExitOk;
  }
  if (parsed.operands.size() != 1) return Fail(err, kExitUsage, "needs one decoder file");
  if (!parsed.pdf) return Fail(err, kExitUsage, "needs --pdf OUT.pdf");
  const std::string& path = parsed.operands[0];
  if (SameFile(path, *parsed.pdf)) {
    return Fail(err, kExitUsage,
                "--pdf " + *parsed.pdf + " is the decoder file " + path +
                    " itself; the printout would replace the sheet (give the PDF a name of its own)");
  }
  // Where the PDF goes is settled now, before the work: a link swapped in meanwhile is
  // not written through, and a target that cannot be written costs no printing.
  const safefile::Target target = safefile::ResolveTarget(*parsed.pdf);
  if (target.kind == safefile::Target::kRefused) {
    return Fail(err, kExitUsage, sheet::CannotCreateMessage(*parsed.pdf) + " (" + target.problem + ")");
  }
  std::string text;
  try {
    text = sheet::ReadDecoderFile(path);
  } catch (const sheet::SheetFileError& error) {
    return Fail(err, kExitUsage, error.what());
  }
  const std::string full_name = FullName(path);
  const sheet::PrintLayout layout = sheet::LayOutPrint(full_name, sheet::SheetTextLines(text));

  std::string error;
  const std::optional<QByteArray> pdf = PrintToPdf(layout, full_name, error);
  if (!pdf) return Fail(err, kExitInternal, error);
  // Written whole or not at all: an old OUT stays as it was when this fails.
  error = safefile::WriteWhole(target, pdf->toStdString());
  if (!error.empty()) return Fail(err, kExitUsage, sheet::CannotCreateMessage(*parsed.pdf) + " (" + error + ")");
  return kExitOk;
}

}  // namespace qarn2::cli
