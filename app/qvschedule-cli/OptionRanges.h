// Validators of numeric options that state their range in words ("from 0.001 to 1,000,000"),
// never echoing a huge number back digit by digit; not-a-number and infinities are refused.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

// A number from `low` to `high`; whole numbers only when `whole`.
CLI::Validator numberFromTo(double low, double high, bool whole);

// The number in `text` when it is one from `low` to `high` (whole when `whole`); otherwise the
// problem in words, as "must be ...; got ...".
bool parseNumberFromTo(const std::string& text, double low, double high, bool whole, double& value,
                       std::string& problem);

// Ranges of the program's options.
constexpr double kMinSpeed = 0.001;
constexpr double kMaxSpeed = 1000000;
constexpr double kMaxVusers = 1000000;
constexpr double kMaxSimulatedSeconds = 31536000;  // a year
constexpr double kMaxProgressSeconds = 86400;      // a day
constexpr double kMaxMilliseconds = 86400000;      // a day
constexpr double kMaxIterations = 2147483647;      // what a 32-bit count holds
constexpr double kMaxEventLoops = 256;
constexpr double kMaxLingerSeconds = 86400;        // a day
