// Writing the transcript of an unattended run, one escaped line per answer.
#include "host/transcript.h"

#include "host/progress.h"

#include "common/escape.h"

std::string TranscriptLine(const std::string& caption, const std::string& text,
                           const std::string& answer) {
    return EscapeField(caption) + "\t" + EscapeField(text) + "\t" + EscapeField(answer) + "\n";
}

Transcript::~Transcript() {
    if (hFile_ != INVALID_HANDLE_VALUE)
        CloseHandle(hFile_);
}

bool Transcript::Open(const std::string& path) {
    if (hFile_ != INVALID_HANDLE_VALUE)
        CloseHandle(hFile_);
    hFile_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    return hFile_ != INVALID_HANDLE_VALUE;
}

void Transcript::Write(const std::string& caption, const std::string& text,
                       const std::string& answer) {
    ShowProgress("Answered \"" + caption + "\": " + answer);
    if (hFile_ == INVALID_HANDLE_VALUE)
        return;
    std::string line = TranscriptLine(caption, text, answer);
    DWORD cbWritten = 0;
    WriteFile(hFile_, line.data(), static_cast<DWORD>(line.size()), &cbWritten, nullptr);
    FlushFileBuffers(hFile_);
}
