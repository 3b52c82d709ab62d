#include "cli/curve_command.h"

#include <ostream>
#include <utility>

#include "cli/command_line.h"
#include "curve/speed_curve.h"
#include "programming/sheet_lines.h"
#include "sheet/code_page.h"
#include "sheet/decoder_file.h"

namespace qarn2::cli {
namespace {

const std::pair<const char*, int> kShapes[] = {
    {"einzeln", curve::kSingle},   {"gerade", curve::kLine},      {"bogen", curve::kArc},
    {"quadrat", curve::kParabola}, {"e", curve::kExponential},
};

int Fail(std::ostream& err, const std::string& message) {
  err << "qarn2-cli: curve: " << message << '\n';
  return kExitUsage;
}

}  // namespace

std::string CurveUsage() {
  return R"(  qarn2-cli curve FILE --shape SHAPE --entry K --value V
      Loads the speed table (CV 67..94) from the decoder file FILE, moves entry K
      (1..28, CV 66+K) to V (0..255) and reshapes the table as the editor does in
      SHAPE: einzeln (that entry only), gerade (a straight line), bogen (a sine
      arc), quadrat (a parabola), e (an exponential). Prints the file with its
      CV 67..94 lines rewritten as "übernehmen" leaves them; FILE stays as it is.
)";
}

int RunCurve(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  std::string path;
  int mode = -1;
  int entry = 0;
  int value = -1;
  const CommandScan scan = ScanCommand(
      args, std::vector<cmdline::LongOption>{{"shape", true}, {"entry", true}, {"value", true}},
      [&](std::string_view name, const std::string& v) -> std::string {
        if (name == "shape") {
          mode = -1;  // the last --shape counts, and must be a shape
          for (const auto& [shape_name, shape] : kShapes) {
            if (v == shape_name) mode = shape;
          }
          if (mode < 0) return "--shape takes einzeln, gerade, bogen, quadrat or e, not '" + v + "'";
        } else if (name == "entry") {
          entry = DecimalArgument(v, 1, 28).value_or(0);
          if (entry == 0) return "--entry takes 1..28, not '" + v + "'";
        } else {
          value = DecimalArgument(v, 0, 255).value_or(-1);
          if (value < 0) return "--value takes 0..255, not '" + v + "'";
        }
        return "";
      },
      true);
  if (scan.help) {
    out << "Usage:\n" << CurveUsage();
    return kExitOk;
  }
  if (!scan.error.empty()) return Fail(err, scan.error);
  if (scan.operands.size() > 1) return Fail(err, "one decoder file only");
  if (!scan.operands.empty()) path = scan.operands[0];
  if (path.empty() || mode < 0 || entry == 0 || value < 0) {
    return Fail(err, "needs FILE, --shape, --entry and --value");
  }
  std::string text;
  try {
    text = sheet::ReadDecoderFile(path);
  } catch (const sheet::SheetFileError& e) {
    return Fail(err, e.what());
  }
  programming::TextSheet lines(text);
  curve::SpeedTable table{};
  if (!programming::ScanSheetLines(lines, table).any_speed_line) {
    return Fail(err, "the sheet has no line for CV 67..94");
  }
  table[entry - 1] = value;
  curve::RecomputeCurve(table, mode, entry);
  curve::ApplySpeedTable(lines, table);
  out << lines.Text();
  return kExitOk;
}

}  // namespace qarn2::cli
