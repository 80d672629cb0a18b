// The trial's report as text for people, and as one JSON object in the envelope every
// --json output shares (docs/json.md).
#pragma once

#include <string>

#include "trial_report.h"

namespace trial {

std::string ReportText(const TrialReport& report);
std::string ReportJson(const TrialReport& report);

}  // namespace trial
