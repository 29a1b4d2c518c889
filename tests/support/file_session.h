// What the file tests look at: the action list and name lists as plain
// values, the recorder fed as the monitor feeds it, and a fixture that
// frees every list of the file side when a test ends.
#pragma once

#include "hosted_test.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct NAMEITEM;
struct DEACTION;

struct ActionView {
    int iKind;
    int iOrder;
    std::string object;
    std::string description;
    bool operator==(const ActionView&) const = default;
};
std::ostream& operator<<(std::ostream& out, const ActionView& view);

// The actions still to offer, in list order.
std::vector<ActionView> OfferedActions();
std::vector<std::string> ActiveNames(NAMEITEM* pList);
// Every name in list order, a removed one marked with a leading "-".
std::vector<std::string> ListedNames(NAMEITEM* pList);
// A folder or file deletion as the comparison offers it (a file outside the
// Windows folders).
DEACTION* AddFolderAction(const std::string& path);
DEACTION* AddFileAction(const std::string& path);
void FeedChange(uint32_t dwOp, const std::string& path, const std::string& newPath = "");
std::string SpecialFolderPath(int iFolder);
std::string LowerText(std::string text);

// WinDir and SysDir as a session sets them; every file-side list freed and
// the backup folder forgotten at the end.
class FileSessionTest : public HostedTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Frees the action list, the recorded changes and every file-side list.
    void FreeFileLists();
};
