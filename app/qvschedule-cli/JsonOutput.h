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

#include "DefinitionSummary.h"
#include "SimulatedVusers.h"

#include <string>
#include <vector>

std::string timelineEntryJson(double seconds, const SimulatedVusers::Entry& entry);
std::string timelineTextJson(double seconds, const std::string& kind, const std::string& text);

// {"definition", "valid", "summary" (null when refused), "diagnostics" (the reasons it was refused)}.
std::string checkJson(const std::string& definition, bool valid, const DefinitionSummary& summary,
                      const std::vector<std::string>& diagnostics);
