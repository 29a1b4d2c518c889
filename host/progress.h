// What an unattended run is doing, as it happens: one line on the standard
// error output for each host phase, each status line of the library and each
// answer, with the seconds since the host started.
#pragma once

#include <string>

// Lines are written only after this; the host turns it on for unattended
// runs that were not asked to be quiet.
void EnableProgress();
// Writes "[  12.3 s] text" when progress is on and the text is not empty.
void ShowProgress(const std::string& text);
