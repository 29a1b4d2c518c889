// The record of an unattended run: one line per answered message box or
// dialog press, "caption<TAB>text<TAB>answer", each field escaped as the
// install log's are (common/escape.h): \\, \t, \n and \r.
#pragma once

#include <windows.h>

#include <string>

std::string TranscriptLine(const std::string& caption, const std::string& text,
                           const std::string& answer);

class Transcript {
  public:
    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Creates or empties the file; false when it cannot be written.
    bool Open(const std::string& path);
    // Appends one line at once, so that a run that hangs still leaves its record.
    void Write(const std::string& caption, const std::string& text, const std::string& answer);

  private:
    HANDLE hFile_ = INVALID_HANDLE_VALUE;
};
