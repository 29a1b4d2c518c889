// The change recorder: which notifications are kept, how renames fold into
// creations and removals, and that damaged records are never read past their
// fields. Random streams are resolved exactly as the plain event-by-event
// algorithm resolves them.
#include "common/util.h"
#include "files/lists.h"
#include "files/recorder.h"
#include "monitor/protocol.h"
#include "support/file_session.h"
#include "support/prefix_files.h"

#include <cstring>
#include <random>

namespace {

struct Entry {
    std::string name;
    int iKind;
    bool fActive;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& entry) {
    return out << "{" << entry.name << ", " << entry.iKind << ", " << entry.fActive << "}";
}

std::vector<Entry> Entries(NAMEITEM* pList) {
    std::vector<Entry> entries;
    for (NAMEITEM* pItem = pList; pItem; pItem = pItem->pNext)
        entries.push_back({pItem->szName, pItem->wKind, pItem->bActive != 0});
    return entries;
}

bool Found(const std::string& pattern) {
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(pattern.c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return false;
    FindClose(hFind);
    return true;
}

// The disk tests as the recorder defines them: a search inside the folder
// finds an entry; a search for the path finds an entry.
bool FolderTest(const std::string& path) {
    std::string pattern = path;
    if (pattern.empty() || pattern.back() != '\\')
        pattern += '\\';
    return Found(pattern + "*.*");
}

class RecorderTest : public FileSessionTest {
  protected:
    ScratchFolder scratch{"recorder"};
};

TEST_F(RecorderTest, RenamesFoldIntoCreationsAndRemovals) {
    for (const char* pszFile : {"A.DLL", "APP.EXE", "APP.BAK", "first.txt", "second.txt"})
        WriteTextFile(scratch / pszFile, "x");
    CreateDirectoryA((scratch / "After").c_str(), nullptr);
    WriteTextFile(scratch / "After\\f.txt", "x");
    // Created, then renamed: both names are new (the first one is gone and
    // is dropped by the verification later).
    FeedChange(kOpFileCreated, scratch / "A.TMP");
    FeedChange(kOpRenamed, scratch / "A.TMP", scratch / "A.DLL");
    // Renamed, then created again under the old name: only the new name.
    FeedChange(kOpRenamed, scratch / "APP.EXE", scratch / "APP.BAK");
    FeedChange(kOpFileCreated, scratch / "APP.EXE");
    // A second rename of the same old name repeats the first and is dropped.
    FeedChange(kOpRenamed, scratch / "orig.txt", scratch / "first.txt");
    FeedChange(kOpRenamed, scratch / "orig.txt", scratch / "second.txt");
    // A renamed folder is known by the folder test of its new name.
    FeedChange(kOpFolderCreated, scratch / "Before");
    FeedChange(kOpRenamed, scratch / "Before", scratch / "After");
    ResolveRecordedChanges();
    EXPECT_EQ(Entries(NewFiles), (std::vector<Entry>{{scratch / "A.DLL", 4, true},
                                                     {scratch / "A.TMP", 4, true},
                                                     {scratch / "APP.BAK", 4, true},
                                                     {scratch / "first.txt", 4, true}}));
    EXPECT_EQ(ActiveNames(NewFolders),
              (std::vector<std::string>{scratch / "After\\", scratch / "Before\\"}));
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
    EXPECT_EQ(Entries(NewFiles), (std::vector<Entry>{{scratch / "gone.tmp", 4, false}}));
    EXPECT_EQ(Entries(NewFolders),
              (std::vector<Entry>{{scratch / "Gone\\", 3, false}, {scratch / "Kept\\", 3, true}}));
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

// The plain algorithm: every lookup walks the event list, every name list
// insertion walks the name list.
class PlainResolver {
  public:
    void Record(uint32_t dwOp, const std::string& path, const std::string& newPath) {
        if (path.empty() || path[0] == '\\')
            return;
        if (dwOp == kOpFolderCreated || dwOp == kOpFolderRemoved)
            Append(WithBackslash(path), "", dwOp);
        else if (dwOp == kOpRenamed || dwOp == kOpFileDeleted || dwOp == kOpFileCreated)
            Append(path, dwOp == kOpRenamed ? newPath : "", dwOp);
    }

    void Resolve() {
        for (size_t a = 0; a < events_.size(); ++a) {
            if (!events_[a].fActive)
                continue;
            for (size_t b = a + 1; b < events_.size(); ++b) {
                if (events_[b].fActive && events_[b].dwOp == events_[a].dwOp &&
                    CompareNoCase(events_[b].file.c_str(), events_[a].file.c_str()) == 0)
                    events_[b].fActive = false;
            }
        }
        size_t cEvents = events_.size();
        for (size_t r = 0; r < cEvents; ++r) {
            if (events_[r].fActive && events_[r].dwOp == kOpRenamed)
                FoldRename(r);
        }
        for (const Event& event : events_) {
            if (!event.fActive)
                continue;
            if (event.dwOp == kOpFolderCreated)
                AddName(folders_, 3, event.file);
            else if (event.dwOp == kOpFolderRemoved && !FolderTest(event.file))
                RemoveName(folders_, event.file);
            else if (event.dwOp == kOpFileDeleted && !Found(event.file))
                RemoveName(files_, event.file);
            else if (event.dwOp == kOpFileCreated && !InSystemFolder(event.file))
                AddName(files_, 4, event.file);
        }
    }

    std::vector<Entry> folders_, files_;

  private:
    struct Event {
        DWORD dwSeq;
        std::string file, newFile;
        DWORD dwOp;
        bool fActive;
    };

    static std::string WithBackslash(std::string path) {
        if (path.empty() || path.back() != '\\')
            path += '\\';
        return path;
    }

    void Append(const std::string& path, const std::string& newPath, DWORD dwOp) {
        events_.push_back({dwSeq_++, path, newPath, dwOp, true});
    }

    int FindActive(const std::string& path, DWORD dwOp) {
        for (size_t i = 0; i < events_.size(); ++i) {
            if (events_[i].fActive && events_[i].dwOp == dwOp &&
                CompareNoCase(events_[i].file.c_str(), path.c_str()) == 0)
                return static_cast<int>(i);
        }
        return -1;
    }

    void FoldRename(size_t r) {
        events_[r].fActive = false;
        Event rename = events_[r];
        bool fFolder = !rename.newFile.empty() && FolderTest(rename.newFile);
        DWORD dwCreated = fFolder ? kOpFolderCreated : kOpFileCreated;
        DWORD dwRemoved = fFolder ? kOpFolderRemoved : kOpFileDeleted;
        std::string oldName = fFolder ? WithBackslash(rename.file) : rename.file;
        int iCreation = FindActive(oldName, dwCreated);
        if (iCreation < 0)
            Append(oldName, "", dwRemoved);
        else if (events_[iCreation].dwSeq < rename.dwSeq)
            Append(oldName, "", dwCreated);
        else
            events_[iCreation].fActive = false;
        if (rename.newFile.empty())
            return;
        std::string newName = fFolder ? WithBackslash(rename.newFile) : rename.newFile;
        if (FindActive(newName, dwCreated) >= 0)
            return;
        int iRemoval = FindActive(newName, dwRemoved);
        if (iRemoval < 0) {
            Append(newName, "", dwCreated);
            return;
        }
        if (rename.dwSeq >= events_[iRemoval].dwSeq)
            return;
        if (fFolder ? FolderTest(newName) : Found(newName))
            Append(newName, "", dwCreated);
    }

    static bool InSystemFolder(const std::string& path) {
        std::string folder = path.substr(0, path.rfind('\\') + 1);
        return CompareNoCase(folder.c_str(), WinDir) == 0 ||
               CompareNoCase(folder.c_str(), SysDir) == 0;
    }

    static void AddName(std::vector<Entry>& list, int iKind, const std::string& name) {
        size_t i = 0;
        for (; i < list.size(); ++i) {
            int iOrder = CompareNoCase(list[i].name.c_str(), name.c_str());
            if (iOrder == 0) {
                list[i].fActive = true;
                return;
            }
            if (iOrder > 0)
                break;
        }
        list.insert(list.begin() + static_cast<long>(i), Entry{name, iKind, true});
    }

    static void RemoveName(std::vector<Entry>& list, const std::string& name) {
        for (Entry& entry : list) {
            if (CompareNoCase(entry.name.c_str(), name.c_str()) == 0) {
                entry.fActive = false;
                return;
            }
        }
    }

    std::vector<Event> events_;
    DWORD dwSeq_ = 0;
};

std::string RandomCase(std::string text, std::mt19937& random) {
    for (char& c : text) {
        if (std::isalpha(static_cast<unsigned char>(c)) && random() % 3 == 0)
            c = static_cast<char>(std::isupper(static_cast<unsigned char>(c))
                                      ? std::tolower(static_cast<unsigned char>(c))
                                      : std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

TEST_F(RecorderTest, RandomStreamsResolveExactlyAsThePlainAlgorithm) {
    // Half of the names exist on disk, so the disk tests of both take both
    // branches.
    std::vector<std::string> pool;
    for (int f = 0; f < 4; ++f) {
        std::string folder = scratch / ("Dir" + std::to_string(f));
        if (f % 2 == 0) {
            CreateDirectoryA(folder.c_str(), nullptr);
            WriteTextFile(folder + "\\keep.txt", "x");
        }
        pool.push_back(folder);
        for (int i = 0; i < 5; ++i) {
            std::string file = folder + "\\file" + std::to_string(i) + ".dat";
            if (f % 2 == 0 && i % 2 == 0)
                WriteTextFile(file, "x");
            pool.push_back(file);
        }
    }
    pool.push_back(std::string(WinDir) + "trun95-direct.dll");
    const uint32_t aOps[] = {kOpFolderCreated, kOpFolderRemoved, kOpRenamed,
                             kOpFileDeleted,   kOpFileCreated,   3};
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        PlainResolver plain;
        int cEvents = 20 + static_cast<int>(random() % 200);
        for (int i = 0; i < cEvents; ++i) {
            uint32_t dwOp = aOps[random() % 6];
            std::string path = RandomCase(pool[random() % pool.size()], random);
            std::string newPath = RandomCase(pool[random() % pool.size()], random);
            FeedChange(dwOp, path, newPath);
            plain.Record(dwOp, path, dwOp == kOpRenamed ? newPath : "");
        }
        ResolveRecordedChanges();
        plain.Resolve();
        ASSERT_EQ(Entries(NewFolders), plain.folders_) << "seed " << seed;
        ASSERT_EQ(Entries(NewFiles), plain.files_) << "seed " << seed;
        FreeRecordedChanges();
        FreeNameList(&NewFolders);
        FreeNameList(&NewFiles);
    }
}

} // namespace
