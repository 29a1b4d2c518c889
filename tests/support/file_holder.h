// Another process that keeps a file open without sharing until it ends.
#pragma once

#include <windows.h>

#include <string>

class FileHolder {
  public:
    // Returns once the file is held (an exclusive open fails); a hold that never
    // comes is a test failure.
    explicit FileHolder(const std::string& path);
    // Ends the holding process, which lets the file go.
    ~FileHolder();
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

  private:
    PROCESS_INFORMATION process_{};
};
