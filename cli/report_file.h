#pragma once
// The run report's file: written whole or not at all, so that the next step never reads half of it.
#include <string>

namespace klvr::cli {

// Throws UsageError when the report could not be written to path: its folder does not exist or
// refuses a new file.
void CheckReportPlace(const std::string& path);

// Writes text to a temporary file beside path and renames it over path. Throws std::runtime_error
// naming path and the reason; path is then as it was.
void WriteReportFile(const std::string& path, const std::string& text);

}  // namespace klvr::cli
