#include "report/ReportRun.hpp"

#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>

#include "io/ControlPointDocument.hpp"
#include "io/OutputFile.hpp"
#include "io/ResultDocument.hpp"
#include "report/Report.hpp"
#include "report/ResidualPlot.hpp"

namespace helmert {

namespace {

// The report's output forms: the option that asks for one, where its path
// is kept, and what writes it. A new form is one row.
struct OutputForm {
  const char* flag;
  std::string ReportArguments::*path;
  std::string (*format)(const TransformationReport&);
};
const OutputForm kOutputForms[] = {
    {"--svg", &ReportArguments::svg_path, FormatResidualPlot},
    {"--json", &ReportArguments::json_path, FormatJsonReport},
};

// Whether two paths name the same file, also when one does not exist yet.
bool SameFile(const std::string& a, const std::string& b) {
  if (SameExistingFile(a, b)) return true;
  std::error_code error;
  const auto canonical_a = std::filesystem::weakly_canonical(a, error);
  if (error) return a == b;
  const auto canonical_b = std::filesystem::weakly_canonical(b, error);
  if (error) return a == b;
  return canonical_a == canonical_b;
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
    if (!has_value) {
      if (k + 1 == arguments.size()) {
        throw UsageError(name + " needs a file name");
      }
      value = arguments[++k];
    }
    if (value.empty()) throw UsageError(name + " needs a file name");
    if (!target->empty()) throw UsageError(name + " is given twice");
    *target = value;
  }
  if (documents.size() != 2) {
    throw UsageError("expected two documents, CONTROL.json and RESULT.json");
  }
  parsed.control_path = documents[0];
  parsed.result_path = documents[1];
  for (std::size_t k = 0; k < std::size(kOutputForms); ++k) {
    const std::string& output = parsed.*kOutputForms[k].path;
    if (output.empty()) continue;
    if (SameFile(output, parsed.control_path) ||
        SameFile(output, parsed.result_path) ||
        (!parsed.fit_path.empty() && SameFile(output, parsed.fit_path))) {
      throw UsageError("the output " + output + " would replace an input");
    }
    for (std::size_t other = k + 1; other < std::size(kOutputForms); ++other) {
      const std::string& other_output = parsed.*kOutputForms[other].path;
      if (!other_output.empty() && SameFile(output, other_output)) {
        throw UsageError(std::string(kOutputForms[k].flag) + " and " +
                         kOutputForms[other].flag + " name the same file");
      }
    }
  }
  return parsed;
}

void RunHelmertReport(const ReportArguments& arguments, std::ostream& out) {
  ControlPoints points = ParseControlPointDocument(
      ReadTextFile(arguments.control_path), arguments.control_path);
  ValidateControlPoints(points, arguments.control_path);
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
  std::optional<FitReference> reference;
  if (!arguments.fit_path.empty()) {
    reference = ReferenceFromFit(arguments.fit_path, stored);
  }
  const TransformationReport report = BuildReport(
      arguments.control_path, std::move(points), arguments.result_path, stored,
      reference ? &*reference : nullptr, arguments.fit_path);
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    outputs[k]->Write(forms[k]->format(report));
  }
  const std::string text = FormatTextReport(report);
  for (const std::unique_ptr<OutputFile>& output : outputs) output->Commit();
  out << text;
  out.flush();
}

}  // namespace helmert
