#include "report/ReportRun.hpp"

#include <charconv>

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>

#include "io/ControlPointDocument.hpp"
#include "io/OutputFile.hpp"
#include "io/Streams.hpp"
#include "io/ResultDocument.hpp"
#include "report/ReportForms.hpp"

namespace helmert {

namespace {

// The output files: the option that asks for one, where its path is kept,
// and the form of the report that fills it (none for the control-point
// document without the dropped points, which the run writes). A new form
// is one row.
struct OutputForm {
  const char* flag;
  std::string ReportArguments::*path;
  std::string (*format)(const TransformationReport&);
};
const OutputForm kOutputForms[] = {
    {"--svg", &ReportArguments::svg_path, FormatResidualPlot},
    {"--json", &ReportArguments::json_path, FormatJsonReport},
    {"--geojson", &ReportArguments::geojson_path, FormatGeoJson},
    {"--write-control", &ReportArguments::write_control_path, nullptr},
};

// Which points --without names: each comma-separated word a point's name,
// exactly as the document stores it, or its number from 1 ("#3" is always
// a number). Refuses a word that is neither, a word that is the name of
// one point and the number of another (naming both), an empty list, and a
// list that leaves fewer than 3 points.
std::vector<bool> PointsToLeaveOut(const std::string& list,
                                   const std::vector<std::string>& names,
                                   std::size_t count,
                                   const std::string& control_path) {
  std::vector<bool> drop(count, false);
  const auto number_of = [count](const std::string& digits) -> std::size_t {
    if (digits.empty() || digits.size() >= 10 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      return count;
    }
    const std::size_t number = std::stoul(digits);
    return number >= 1 && number <= count ? number - 1 : count;
  };
  std::size_t words = 0;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string word = list.substr(start, comma - start);
    start = comma + 1;
    if (word.empty()) continue;
    ++words;
    std::size_t index = count;
    if (word[0] == '#') {
      index = number_of(word.substr(1));
    } else {
      const auto named = std::find(names.begin(), names.end(), word);
      const std::size_t by_number = number_of(word);
      if (named != names.end()) {
        index = static_cast<std::size_t>(named - names.begin());
        if (by_number != count && by_number != index) {
          throw Error(control_path + ": --without \"" + word +
                      "\" is the name of point " + std::to_string(index + 1) +
                      " and the number of another; write #" +
                      std::to_string(index + 1) + " for the first or #" +
                      word + " for the second");
        }
      } else {
        index = by_number;
      }
    }
    if (index == count) {
      throw Error(control_path + ": --without names no point \"" + word + "\"");
    }
    drop[index] = true;
  }
  if (words == 0) {
    throw Error(control_path + ": --without names no point");
  }
  const std::size_t kept =
      static_cast<std::size_t>(std::count(drop.begin(), drop.end(), false));
  if (kept < 3) {
    throw Error(control_path + ": --without leaves " + std::to_string(kept) +
                " point(s); a fit needs at least 3");
  }
  return drop;
}

}  // namespace

ReportArguments ParseReportArguments(
    const std::vector<std::string>& arguments) {
  ReportArguments parsed;
  std::vector<std::string> documents;
  for (std::size_t k = 0; k < arguments.size(); ++k) {
    const std::string& argument = arguments[k];
    if (argument == "--help" || argument == "-h") {
      parsed.help = true;
      return parsed;
    }
    if (argument == "--version") {
      parsed.version = true;
      return parsed;
    }
    std::string* target = nullptr;
    std::string name;
    std::string value;
    bool has_value = false;
    const auto match = [&](const char* flag, std::string* path) {
      const std::string prefix = std::string(flag) + "=";
      if (argument == flag) {
        name = flag;
      } else if (argument.compare(0, prefix.size(), prefix) == 0) {
        name = flag;
        value = argument.substr(prefix.size());
        has_value = true;
      }
      if (!name.empty() && target == nullptr) target = path;
    };
    match("--fit", &parsed.fit_path);
    match("--without", &parsed.without);
    match("--sigma-plan", &parsed.sigma_plan);
    match("--sigma-height", &parsed.sigma_height);
    for (const OutputForm& form : kOutputForms) {
      match(form.flag, &(parsed.*form.path));
    }
    if (name.empty()) {
      if (argument.size() > 1 && argument[0] == '-') {
        throw UsageError("unknown option " + argument);
      }
      documents.push_back(argument);
      continue;
    }
    const char* const needs = name.compare(0, 8, "--sigma-") == 0
                                  ? " needs a standard deviation in metres"
                                  : " needs a file name";
    if (!has_value) {
      if (k + 1 == arguments.size()) throw UsageError(name + needs);
      value = arguments[++k];
    }
    if (value.empty()) throw UsageError(name + needs);
    if (!target->empty()) throw UsageError(name + " is given twice");
    *target = value;
  }
  if (documents.size() != 2) {
    throw UsageError("expected two documents, CONTROL.json and RESULT.json");
  }
  parsed.control_path = documents[0];
  parsed.result_path = documents[1];
  if (parsed.without.empty() != parsed.write_control_path.empty()) {
    throw UsageError("--without and --write-control go together");
  }
  if (parsed.sigma_plan.empty() != parsed.sigma_height.empty()) {
    throw UsageError("--sigma-plan and --sigma-height go together");
  }
  for (const std::string* sigma : {&parsed.sigma_plan, &parsed.sigma_height}) {
    if (sigma->empty()) continue;
    double metres = 0.0;
    const auto read =
        std::from_chars(sigma->data(), sigma->data() + sigma->size(), metres);
    if (read.ec != std::errc() || read.ptr != sigma->data() + sigma->size() ||
        !(metres > 0.0 && metres <= 100.0)) {
      throw UsageError(
          (sigma == &parsed.sigma_plan ? "--sigma-plan " : "--sigma-height ") +
          *sigma + ": not a standard deviation in metres (above 0, at most "
                   "100; 0.005 for 5 mm)");
    }
    (sigma == &parsed.sigma_plan ? parsed.stated.plan_sigma
                                 : parsed.stated.height_sigma) = metres;
  }
  for (std::size_t k = 0; k < std::size(kOutputForms); ++k) {
    const std::string& output = parsed.*kOutputForms[k].path;
    if (output.empty()) continue;
    if (SameFileOrName(output, parsed.control_path) ||
        SameFileOrName(output, parsed.result_path) ||
        (!parsed.fit_path.empty() && SameFileOrName(output, parsed.fit_path))) {
      throw UsageError("the output " + output + " would replace an input");
    }
    for (std::size_t other = k + 1; other < std::size(kOutputForms); ++other) {
      const std::string& other_output = parsed.*kOutputForms[other].path;
      if (!other_output.empty() && SameFileOrName(output, other_output)) {
        throw UsageError(std::string(kOutputForms[k].flag) + " and " +
                         kOutputForms[other].flag + " name the same file");
      }
    }
  }
  return parsed;
}

void RunHelmertReport(const ReportArguments& arguments, std::ostream& out) {
  std::string control_text = ReadTextFile(arguments.control_path);
  std::vector<std::string> names;
  ControlPoints points =
      ParseControlPointDocument(control_text, arguments.control_path, &names);
  ValidateControlPoints(points, arguments.control_path);
  if (arguments.write_control_path.empty()) std::string().swap(control_text);
  const StoredTransformation stored = ParseResultDocument(
      ReadTextFile(arguments.result_path), arguments.result_path);

  // Every output prepared before the work, written before any is renamed
  // into place: either all requested files are replaced or none is.
  std::vector<std::unique_ptr<OutputFile>> outputs;
  std::vector<const OutputForm*> forms;
  for (const OutputForm& form : kOutputForms) {
    const std::string& path = arguments.*form.path;
    if (path.empty()) continue;
    outputs.push_back(std::make_unique<OutputFile>(path));
    forms.push_back(&form);
  }
  std::optional<ControlPoints> fit_points;
  if (!arguments.fit_path.empty()) {
    fit_points = ParseControlPointDocument(ReadTextFile(arguments.fit_path),
                                           arguments.fit_path);
    ValidateControlPoints(*fit_points, arguments.fit_path);
  }
  const TransformationReport report = BuildReport(
      arguments.control_path, std::move(points), arguments.result_path, stored,
      fit_points ? &*fit_points : nullptr, arguments.fit_path, names,
      arguments.sigma_plan.empty() ? nullptr : &arguments.stated);
  std::string control_without;
  if (!arguments.write_control_path.empty()) {
    control_without = ControlDocumentWithout(
        control_text, arguments.control_path,
        PointsToLeaveOut(arguments.without, names, report.labels.size(),
                         arguments.control_path));
  }
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    outputs[k]->Write(forms[k]->format != nullptr ? forms[k]->format(report)
                                                  : control_without);
  }
  // All or none: every output checked before the first is renamed, and the
  // report on the console before any: a report that did not reach it is a
  // failed run.
  std::vector<OutputFile*> files;
  for (const std::unique_ptr<OutputFile>& output : outputs) {
    output->CheckReplaceable();
    files.push_back(output.get());
  }
  out << FormatTextReport(report);
  RequireWritten(out);
  CommitAll(files);
}

}  // namespace helmert
