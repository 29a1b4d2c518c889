// Scratch folders and files inside the test prefix's drive C.
#pragma once

#include <string>

// A fresh folder C:\trun95-tests\<name>\ that is removed with everything in
// it when the object goes.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& name);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The folder's path without a trailing backslash.
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

  private:
    std::string path_;
};

// A file of the given name in the Windows temporary folder, deleted first.
std::string TempFile(const char* pszName);

void WriteTextFile(const std::string& path, const std::string& content);
std::string ReadTextFile(const std::string& path);
bool Exists(const std::string& path);
// Removes a file or folder tree, clearing read-only attributes first.
void RemoveTree(const std::string& path);
// A Unix symbolic link from link to target, both inside the prefix, made as
// a program outside Wine makes one (Wine 8.0's CreateSymbolicLink makes
// none); false where this build cannot make one.
bool MakeUnixLink(const std::string& target, const std::string& link);
