// The change recorder: which notifications are kept, how renames fold into
// creations and removals, and that damaged records are never read past their
// fields.
#include "files/lists.h"
#include "files/recorder.h"
#include "monitor/protocol.h"
#include "support/file_session.h"
#include "support/prefix_files.h"

#include <cstring>

namespace {

// A name as ListedNames shows it once removed.
std::string Removed(const std::string& name) {
    std::string marked = "-";
    return marked + name;
}

class RecorderTest : public FileSessionTest {
  protected:
    ScratchFolder scratch{"recorder"};
};

TEST_F(RecorderTest, RenamesFoldIntoCreationsAndRemovalsButItemsFromBeforeSetupAreKept) {
    for (const char* pszFile :
         {"A.DLL", "APP.EXE", "APP.BAK", "first.txt", "second.txt", "SHARED.DLL", "X.DLL"})
        WriteTextFile(scratch / pszFile, "x");
    for (const char* pszFolder : {"After", "Data.old"})
        CreateDirectoryA((scratch / pszFolder).c_str(), nullptr);
    WriteTextFile(scratch / "After\\f.txt", "x");
    // Created, then renamed: both names are new (the first one is gone and
    // is dropped by the verification later).
    FeedChange(kOpFileCreated, scratch / "A.TMP");
    FeedChange(kOpRenamed, scratch / "A.TMP", scratch / "A.DLL");
    // A file from before setup moved aside and written anew: the moved file
    // is the user's and is kept under its new name.
    FeedChange(kOpRenamed, scratch / "APP.EXE", scratch / "APP.BAK");
    FeedChange(kOpFileCreated, scratch / "APP.EXE");
    // Renamed there and back: the user's file, untouched.
    FeedChange(kOpRenamed, scratch / "X.DLL", scratch / "X.DL_");
    FeedChange(kOpRenamed, scratch / "X.DL_", scratch / "X.DLL");
    FeedChange(kOpRenamed, scratch / "Data", scratch / "Data.old");
    // A second rename of the same old name repeats the first and is dropped.
    FeedChange(kOpRenamed, scratch / "orig.txt", scratch / "first.txt");
    FeedChange(kOpRenamed, scratch / "orig.txt", scratch / "second.txt");
    // A renamed folder is known by the folder test of its new name.
    FeedChange(kOpFolderCreated, scratch / "Before");
    FeedChange(kOpRenamed, scratch / "Before", scratch / "After");
    // Deleted, then replaced by a rename: the file was there before setup.
    FeedChange(kOpFileDeleted, scratch / "SHARED.DLL");
    FeedChange(kOpFileCreated, scratch / "NEW.TMP");
    FeedChange(kOpRenamed, scratch / "NEW.TMP", scratch / "SHARED.DLL");
    // Renamed, then deleted, and gone: nothing new under either name.
    FeedChange(kOpRenamed, scratch / "b.tmp", scratch / "b.dat");
    FeedChange(kOpFileDeleted, scratch / "b.dat");
    ResolveRecordedChanges();
    EXPECT_EQ(ListedNames(NewFiles), (std::vector<std::string>{scratch / "A.DLL", scratch / "A.TMP",
                                                               scratch / "NEW.TMP"}));
    EXPECT_EQ(ActiveNames(NewFolders),
              (std::vector<std::string>{scratch / "After\\", scratch / "Before\\"}));
    auto renamed = [&](const char* pszKind, const char* pszNew, const char* pszOld) {
        return std::string(pszKind) + " \"" + scratch / pszNew + "\" was renamed by setup from \"" +
               scratch / pszOld + "\" and is kept";
    };
    EXPECT_EQ(ActiveNames(Cautions),
              (std::vector<std::string>{renamed("File", "APP.BAK", "APP.EXE"),
                                        renamed("File", "first.txt", "orig.txt"),
                                        renamed("Folder", "Data.old\\", "Data\\")}));
    EXPECT_TRUE(RenamedBySetup((scratch / "app.bak").c_str()));
}

TEST_F(RecorderTest, CreatedThenRemovedItemsAreListedButRemovedWhileRepeatsCountOnce) {
    CreateDirectoryA((scratch / "Kept").c_str(), nullptr);
    WriteTextFile(scratch / "Kept\\a.txt", "x");
    FeedChange(kOpFileCreated, scratch / "gone.tmp");
    FeedChange(kOpFileDeleted, scratch / "GONE.TMP");
    FeedChange(kOpFolderCreated, scratch / "Kept");
    FeedChange(kOpFolderCreated, scratch / "kept\\");
    FeedChange(kOpFolderRemoved, scratch / "Kept");
    FeedChange(kOpFolderCreated, scratch / "Gone");
    FeedChange(kOpFolderRemoved, scratch / "Gone");
    ResolveRecordedChanges();
    EXPECT_EQ(ListedNames(NewFiles), (std::vector<std::string>{Removed(scratch / "gone.tmp")}));
    EXPECT_EQ(ListedNames(NewFolders),
              (std::vector<std::string>{Removed(scratch / "Gone\\"), scratch / "Kept\\"}));
}

TEST_F(RecorderTest, FilesDirectlyInWindowsOrSystemFolderAreLeftToTheirLists) {
    std::string windows = WinDir, system = SysDir;
    FeedChange(kOpFileCreated, windows + "direct.dll");
    FeedChange(kOpFileCreated, system + "direct32.dll");
    FeedChange(kOpFileCreated, windows + "inf\\sub.inf");
    ResolveRecordedChanges();
    EXPECT_EQ(ActiveNames(NewFiles), (std::vector<std::string>{windows + "inf\\sub.inf"}));
}

TEST_F(RecorderTest, NetworkEmptyForeignAndUnknownRecordsAreNotRecorded) {
    FeedChange(kOpFileCreated, "\\\\server\\share\\a.txt");
    FeedChange(kOpFolderCreated, "\\\\server\\share\\dir");
    FeedChange(kOpFileCreated, "");
    FeedChange(3, scratch / "unknown.txt");
    MONITOR_RECORD record{};
    record.dwOperation = kOpFileCreated;
    lstrcpynA(record.szPath, (scratch / "other-selector.txt").c_str(), kMonitorPathChars);
    RecordFileChange(1, &record);
    ResolveRecordedChanges();
    EXPECT_EQ(NewFiles, nullptr);
    EXPECT_EQ(NewFolders, nullptr);
}

// A record placed so that its last byte is the last readable byte: reading
// one byte past a field that has no terminator faults.
class GuardedRecord {
  public:
    GuardedRecord() {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        size_t cbPage = info.dwPageSize;
        pBase_ = static_cast<BYTE*>(
            VirtualAlloc(nullptr, 2 * cbPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD dwOld;
        VirtualProtect(pBase_ + cbPage, cbPage, PAGE_NOACCESS, &dwOld);
        pRecord_ = reinterpret_cast<MONITOR_RECORD*>(pBase_ + cbPage - sizeof(MONITOR_RECORD));
        std::memset(pRecord_, 0, sizeof(MONITOR_RECORD));
    }
    ~GuardedRecord() { VirtualFree(pBase_, 0, MEM_RELEASE); }
    GuardedRecord(const GuardedRecord&) = delete;
    GuardedRecord& operator=(const GuardedRecord&) = delete;
    MONITOR_RECORD* operator->() { return pRecord_; }
    MONITOR_RECORD* get() { return pRecord_; }

  private:
    BYTE* pBase_;
    MONITOR_RECORD* pRecord_;
};

TEST_F(RecorderTest, PathFieldsAreNeverReadPastTheirEnd) {
    GuardedRecord record;
    record->dwOperation = kOpRenamed;
    std::memset(record->szPath, 'A', kMonitorPathChars);
    std::memset(record->szPath2, 'B', kMonitorPathChars);
    RecordFileChange(0, record.get()); // neither field ends: dropped
    lstrcpynA(record->szPath, (scratch / "old.txt").c_str(), kMonitorPathChars);
    RecordFileChange(0, record.get()); // the new name does not end: dropped
    // A path that fills its whole field is kept; as a folder it is cut to
    // what a list entry holds.
    std::string longPath = "C:\\" + std::string(kMonitorPathChars - 4, 'd');
    std::memcpy(record->szPath, longPath.c_str(), longPath.size() + 1);
    record->dwOperation = kOpFileCreated;
    RecordFileChange(0, record.get());
    record->dwOperation = kOpFolderCreated;
    RecordFileChange(0, record.get());
    ResolveRecordedChanges();
    EXPECT_EQ(ActiveNames(NewFiles), (std::vector<std::string>{longPath}));
    ASSERT_NE(NewFolders, nullptr);
    EXPECT_EQ(std::strlen(NewFolders->szName), static_cast<size_t>(kNameItemChars - 1));
}

} // namespace
