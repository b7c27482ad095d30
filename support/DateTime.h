// Date-times: days since 30 December 1899 00:00 of the local clock, the fraction being the time
// of day, with millisecond resolution.
#pragma once

using TDateTime = double;

// The local clock now.
TDateTime Now();

// A duration of the given seconds, in days.
constexpr TDateTime SecondsToDays(double seconds) { return seconds / 86400.0; }
