// Writing the transcript of an unattended run, one escaped line per answer.
#include "host/transcript.h"

#include "host/progress.h"

std::string EscapeLineBreaks(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char ch : text) {
        if (ch == '\n')
            escaped += "\\n";
        else if (ch == '\r')
            escaped += "\\r";
        else
            escaped += ch;
    }
    return escaped;
}

std::string TranscriptLine(const std::string& caption, const std::string& text,
                           const std::string& answer) {
    return EscapeLineBreaks(caption) + "\t" + EscapeLineBreaks(text) + "\t" +
           EscapeLineBreaks(answer) + "\n";
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
