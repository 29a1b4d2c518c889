// A registry key of the user's that a common dialog writes into, kept as it
// was and put back afterwards, so that an unattended run leaves no trace there.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class KeptRegistryKey {
  public:
    // Remembers the key's values, or which part of its path is missing.
    void Keep(HKEY hRoot, const std::string& path);
    // Gives the key its remembered values back, or removes it and the keys
    // above it that did not exist, as long as nothing else has come into them.
    void PutBack();
    bool IsKept() const { return hRoot_ != nullptr; }

  private:
    struct Value {
        std::string name;
        DWORD dwType;
        std::vector<BYTE> data;
    };
    HKEY hRoot_ = nullptr;
    std::string path_;
    std::vector<std::string> missingKeys_; // the key and missing parents, deepest first
    std::vector<Value> values_;
};

// The "Save As" dialog's recent-folder list, written whenever a file is saved.
constexpr char kSaveDialogRecentFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\LastVisitedMRU";
