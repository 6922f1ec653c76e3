// The machine-readable outputs: one JSON object per timeline line (--format ndjson on run and
// preview) and the verdict of check (--format json). Texts that are not valid UTF-8 (names from a
// definition) are written with U+FFFD in place of the bad bytes, so every line parses.
//
// A timeline object has the keys time (seconds since the start, to the millisecond), kind
// ("call", "event", "vusers", "log" or "note") and, for calls, events and vusers, group, call,
// count (a number, "all" or null), status (null when none), mode (null when none) and pool (the
// pool after the call: idle, initialized, running, done; null when none); log and note objects
// carry text instead.
#pragma once

#include "Chart.h"
#include "DefinitionSummary.h"
#include "QVDefinitionDiagnostics.h"
#include "SimulatedVusers.h"

#include <string>
#include <vector>

std::string timelineEntryJson(double seconds, const SimulatedVusers::Entry& entry);
std::string timelineTextJson(double seconds, const std::string& kind, const std::string& text);

// {"definition", "valid", "summary" (null when refused), "diagnostics"}: one object per diagnostic
// with severity ("error" or "warning"), message, path, line, column, value and expected (line
// and column 0, the texts empty, when unknown).
std::string checkJson(const std::string& definition, bool valid, const DefinitionSummary& summary,
                      const std::vector<QVDefinitionDiagnostic>& diagnostics);

// The document of preview --json: {"definition", "end" ("finished", "idle" or "limit"),
// "timeline" (the timeline's objects, as --format ndjson writes them), "series" (one object per
// change: time_s, group, running, initialized, as the CSV), "summary" (duration_s,
// scheduler_finished_s (null when it did not finish), peak_running, peak_running_at_s, and per
// group name, peak_running, asks_for (a number or "all") and pool)}.
std::string previewJson(const std::string& definition, const std::string& end,
                        const std::vector<std::string>& timeline, const ChartData& chart, const LoadSummary& summary);
