// The application's diagnostic log: one time-stamped line per call, on standard error and in
// the system log.
#pragma once

#include <functional>
#include <string>

// Writes one line made from a printf-style format. The text needs no final line feed; line
// breaks and control characters in it are written as spaces, invalid UTF-8 as U+FFFD.
void quaymap_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Also hands every logged text (without time stamp) to the given observer; an empty observer
// removes it. Tests use it to see exactly which lines were logged.
void set_log_observer(std::function<void(const std::string&)> observer);

// Whether lines go to standard error and the system log (they do unless switched off): the
// command line keeps its standard error for messages meant for the user.
void set_log_echo(bool echo);
