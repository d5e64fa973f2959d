#pragma once

#include <QString>
#include <cstdint>

namespace halvora {

// Clip times are seconds held as doubles that are always whole milliseconds, so a whole second
// stays exactly the integer it was and every comparison of marks is exact.

// ASeconds rounded to the nearest millisecond.
double RoundToMs(double ASeconds);
// Whole milliseconds of a clip time.
std::int64_t ToMs(double ASeconds);
inline double FromMs(std::int64_t AMs) {
    return static_cast<double>(AMs) / 1000.0;
}

// ffmpeg's seconds text: "65" for a whole second, "1.24" otherwise (milliseconds at most).
QString SecondsArg(double ASeconds);

// A mark as the list and the status line show it: FormatTime's "01:05" for a whole second,
// "01:05.240" otherwise.
QString FormatMarkTime(double ASeconds);

// The time field's text: "hh:mm:ss.mmm".
QString FormatClock(std::int64_t AMs);
// Reads "hh:mm:ss.mmm", "mm:ss.mmm" or "ss.mmm" (the fraction optional, up to three digits, and
// surrounding blanks ignored). False when the text is none of these.
bool ParseClock(const QString& AText, std::int64_t* AMs);

} // namespace halvora
