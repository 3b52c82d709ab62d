#include "cli/command_report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <algorithm>
#include <ostream>

#include "sheet/code_page.h"

namespace qarn2::cli {
namespace {

QString Text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

const char* CvResultText(const programming::CvOutcome& outcome, bool writing) {
  if (!writing) return outcome.ok ? "read" : outcome.unreachable ? "not reachable in this mode" : "not readable";
  if (outcome.unreachable) return "not reachable in this mode";
  if (outcome.tries == 0) return "not written";
  if (outcome.verified) {
    if (outcome.ok) return "acknowledged and read back";
    return outcome.read_back ? "read back otherwise" : "not readable back";
  }
  return outcome.ok ? "acknowledged" : "not acknowledged";
}

QJsonObject CvObject(const programming::CvOutcome& outcome, bool writing) {
  QJsonObject cv;
  cv["cv"] = outcome.cv;
  if (writing || outcome.ok) cv["value"] = outcome.value;
  cv["tries"] = outcome.tries;
  cv["result"] = CvResultText(outcome, writing);
  if (outcome.verified) {
    cv["read_back"] = outcome.read_back ? QJsonValue(*outcome.read_back) : QJsonValue();
    cv["read_back_tries"] = outcome.read_back_tries;
  }
  return cv;
}

QJsonObject ComparisonObject(const programming::CvComparison& line) {
  using Result = programming::CvComparison::Result;
  static constexpr std::pair<Result, const char*> kResults[] = {
      {Result::kSame, "same"},
      {Result::kDiffers, "differs"},
      {Result::kNotReadable, "not readable"},
      {Result::kUnreachable, "not reachable in this mode"},
  };
  QJsonObject cv;
  cv["cv"] = line.cv;
  cv["sheet"] = line.sheet_value;
  cv["decoder"] = line.decoder_value ? QJsonValue(*line.decoder_value) : QJsonValue();
  cv["reads"] = line.reads;
  for (const auto& [result, text] : kResults) {
    if (result == line.result) cv["result"] = text;
  }
  return cv;
}

}  // namespace

CommandReport::CommandReport(std::string_view command, std::span<const std::string> args, std::ostream& out,
                             std::ostream& err)
    : command_(command), out_(out), err_(err), json_(std::find(args.begin(), args.end(), "--json") != args.end()) {}

int CommandReport::Fail(int status, const std::string& message) {
  err_ << "qarn2-cli: " << command_ << ": " << message << '\n';
  error_ = message;
  return status;
}

void CommandReport::Describe(const std::string& mode, std::string_view hardware, int retries, bool verify) {
  settings_ = Settings{mode, std::string(hardware), retries, verify};
}

void CommandReport::Add(const programming::CvOutcome& outcome, bool writing) { cvs_.emplace_back(outcome, writing); }

int CommandReport::Finish(int status) {
  if (!json_ || help_) return status;
  QJsonObject root;
  root["command"] = Text(command_);
  if (settings_) {
    root["mode"] = Text(settings_->mode);
    root["hardware"] = Text(settings_->hardware);
    root["retries"] = settings_->retries;
    root["verify"] = settings_->verify;
  }
  if (started_) {
    QJsonArray cvs;
    int failures = 0;
    for (const auto& [outcome, writing] : cvs_) {
      cvs.append(CvObject(outcome, writing));
      failures += !outcome.ok;
    }
    for (const programming::CvComparison& line : compared_) {
      cvs.append(ComparisonObject(line));
      failures += line.result != programming::CvComparison::Result::kSame;
    }
    root["cvs"] = cvs;
    root["failures"] = failures;
  }
  if (sheet_) root["sheet"] = Text(sheet::Cp1252ToUtf8(*sheet_));
  if (error_) root["error"] = Text(*error_);
  root["exit"] = status;
  out_ << QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
  return status;
}

}  // namespace qarn2::cli
