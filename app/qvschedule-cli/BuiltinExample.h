// The definition every subcommand uses when it is given none: the typical road of a load test
// for the whole scenario (ramp up 10 vusers, 3 every 15 seconds, keep them running for a minute,
// stop them all).
#pragma once

extern const char* const kBuiltinExampleName;
extern const char* const kBuiltinExampleXml;
