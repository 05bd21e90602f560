// The run sequence of helmert-fit: one pass from the control-point document
// to the result document.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "estimation/Estimation.hpp"
#include "io/ControlPoints.hpp"

namespace helmert {

// The fit as the console reports it: the closed-form minimum replaces the
// solver's parameters also when a printed parameter line (six significant
// digits) would read otherwise, so that the console never shows digits of
// a solver that stopped short.
FitOutcome WithConsoleRule(FitOutcome fit);

// Prints the solver's full report, "\n", the parameter block label and the
// seven parameter lines in the stream's current format, and one warning
// line on `warnings` when the closed-form minimum replaced the solver's
// parameters and the difference matters to a user (replacement_matters).
void ReportFit(const FitOutcome& fit, std::ostream& out,
               std::ostream& warnings);

// Everything of a run between reading the document and writing the result:
// checks the points, chooses the zone, projects, fits, prints the console
// report on `out` and returns the result document's text. The zone is the
// document's named central meridian, or the 3-degree zone nearest to the
// points, with the document's scale factor. With `advice`, also what the
// accepted fit's numbers point to (AdviseOnFit), for the caller to warn
// with. `control_name` names the document in messages. Throws Error
// before printing anything when the points or the fit are refused; an
// implausible fit's message names its likely cause (DiagnoseImplausibleFit).
std::string FitControlPoints(const ControlPoints& points,
                             const std::string& control_name, std::ostream& out,
                             std::ostream& warnings,
                             std::vector<std::string>* advice = nullptr);

// Reads and checks the control-point document at control_path, chooses the
// zone, projects, fits, prints the console report on `out` (GBK labels) and
// writes the result document to result_path. The document is read and
// checked, and the result's temporary file created, before anything is
// printed; the result replaces the file at result_path only once it is
// whole (OutputFile). Refuses a result path that names the control-point
// document. Throws Error on any failure, with `out` holding what was
// printed so far; a warning that does not stop the run goes to `warnings`,
// and so, after the result is written, does each line of AdviseOnFit.
void RunHelmertFit(const std::string& control_path,
                   const std::string& result_path, std::ostream& out,
                   std::ostream& warnings);

}  // namespace helmert
