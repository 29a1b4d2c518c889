// The install log's manifest: every item kind reads back as it was written,
// and a damaged log, one of another format or one without its copies is
// refused with what is wrong, before any action is made from it. The undo of
// a logged registry key compared with the key as it is now.
#include "actions/deaction.h"
#include "common/strings.h"
#include "install_log/manifest.h"
#include "install_log/offer.h"
#include "files/lists.h"
#include "install_log/recorded_key.h"
#include "registry/snapshot.h"
#include "registry/tree.h"
#include "support/file_session.h"
#include "support/prefix_files.h"
#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// A key with one value, as a snapshot holds it, below pParent when given.
RTREE* KeyWithValue(const char* pszName, const char* pszValue, RTREE* pParent = nullptr) {
    RTREE* pKey = NewRegistryNode();
    std::free(pKey->pszName);
    pKey->pszName = DupString(pszName);
    pKey->pData =
        NewRegistryData(REG_SZ, 3, reinterpret_cast<const BYTE*>("v\t"), pszValue, nullptr);
    if ((pKey->pParent = pParent))
        pParent->pChild = pKey;
    return pKey;
}

class ManifestTest : public testing::Test {
  protected:
    // One item of every kind, with texts holding the characters that are escaped.
    void SetUp() override {
        log.name = "Acme\tNotes\\2";
        log.setup = "C:\\setup.exe /S\r\n";
        log.installed = "2026-01-02 03:04:05 UTC";
        log.cautions = {"caution one"};
        for (WORD wKind = DEA_GROUP; wKind <= DEA_REGISTRY; ++wKind) {
            LogItem& item = log.items.emplace_back();
            item.wKind = wKind;
            item.wOrder = static_cast<WORD>(wKind * 10);
            const std::string number = std::to_string(wKind);
            item.description = "Delete item " + number;
            item.object = "C:\\acme\\" + number;
        }
        log.items[0].extra = "Acme group";
        log.items[2].folders = {"C:\\acme\\3\\sub"};
        log.items[2].files = {{"C:\\acme\\3\\a.txt", 12, 1234567, std::string(40, 'a')},
                              {"C:\\acme\\3\\b.txt", 0, 1, ""}};
        log.items[4].backup = "win.ini";
        LogItem& key = log.items[5];
        key.dwChange = REG_VALUES_CHANGED;
        key.iRoot = 2;
        key.keyPath = "Acme\\Заметки";
        key.pBefore = KeyWithValue("Заметки", "old");
        KeyWithValue("Caf\xC3\xA9", "deeper", key.pBefore);
        key.pAfter = KeyWithValue("Заметки", "new");
        text = ManifestText(log);
    }
    // The manifest with the first occurrence of a text replaced.
    std::string Replaced(const std::string& find, const std::string& with) const {
        size_t iAt = text.find(find);
        return text.substr(0, iAt) + with + text.substr(iAt + find.size());
    }
    InstallLog log;
    std::string text;
};

// Registry names are UTF-8; a log of format version 1 holds them as ANSI.
TEST_F(ManifestTest, EveryItemKindReadsBackAsWrittenAndAnOlderLogsNamesAsANSI) {
    InstallLog read;
    ASSERT_EQ(ReadManifest(text, read), "");
    EXPECT_EQ(ManifestText(read), text);
    EXPECT_EQ(read.name, log.name);
    EXPECT_EQ(read.setup, log.setup);
    ASSERT_EQ(read.items.size(), 6u);
    EXPECT_EQ(read.items[5].pBefore->pChild->pData->pszName, std::string("deeper"));
    EXPECT_EQ(read.items[5].keyPath, "Acme\\Заметки");
    InstallLog older;
    std::string ansi = Replaced("\t2\n", "\t1\n");
    ansi = ansi.replace(ansi.find("Caf\xC3\xA9"), 5, "Caf\xE9");
    ASSERT_EQ(ReadManifest(ansi, older), "");
    EXPECT_EQ(older.items[5].pBefore->pChild->pszName, std::string("Caf\xC3\xA9"));
}

TEST_F(ManifestTest, DamagedOrForeignManifestsAreRefusedNamingWhatIsWrong) {
    const std::pair<std::string, const char*> kCases[] = {
        {Replaced("\t2\n", "\t3\n"),
         "the log is of format version 3; this TRUN95 reads versions 1 to 2"},
        {Replaced("install log", "install lag"), "line 1: this is not a TRUN95 install log"},
        {"", "the manifest is empty"},
        {Replaced("\nitem\t1\t", "\nitem\tx\t"), "unknown item kind \"x\""},
        {Replaced("\nname\t", "\nnames\t"), "unknown record \"names\""},
        {Replaced("\nsetup\t", "\nsetup\tx\t"), "the setup record has 3 fields instead of 2"},
        {Replaced("\ninstalled\t", "\ninstalled\t\\q"), "bad escape in the installed record"},
        {Replaced("sub\n", std::string(260, 's') + "\n"), "a path of more than 259 characters"},
        {Replaced("\nname\t", "\nfolder\tC:\\x\nname\t"), "a folder record before the first item"},
        {Replaced("\nbackup\t", "\nkey\t3\t0\tx\nbackup\t"), "a key record in an item that is not"},
        {Replaced("\nnode\tb\t1\t", "\nnode\tb\t3\t"), "a node deeper than its parent"},
        {Replaced("\nvalue\tb\t", "\nvalue\tq\t"), "bad value record"},
        {Replaced("\ncaution\tcaution one", ""), "lines, but the manifest has 6 in"},
        {text.substr(0, text.rfind("end\t")), "the manifest is cut short: its end record"},
        {text + "caution\tlate\n", "there is text after the end record"},
    };
    for (const auto& [damaged, pszError] : kCases) {
        InstallLog read;
        EXPECT_NE(ReadManifest(damaged, read).find(pszError), std::string::npos) << pszError;
    }
}

// An older log's registry name with "?" may stand for letters its ANSI text
// could not hold: the key is left alone, named in a caution.
TEST_F(ManifestTest, AnOlderLogsKeyNamedWithAQuestionMarkIsLeftAloneWithACaution) {
    InstallLog older;
    ASSERT_EQ(
        ReadManifest(Replaced("\t2\n", "\t1\n").replace(text.find("Acme\\\\"), 20, "Acme\\\\Caf?"),
                     older),
        "");
    older.items.erase(older.items.begin(), older.items.begin() + 5);
    OfferLogItems(older);
    EXPECT_EQ(ActiveNames(Cautions),
              (std::vector<std::string>{"caution one",
                                        "Registry key \\Acme\\Caf? is named in an "
                                        "older install log in ANSI text, which may not hold "
                                        "its exact name: it is left as it is"}));
    EXPECT_EQ(pActionList->fDone, 1);
    ForgetLogActions();
    FreeActionList();
    FreeNameList(&Cautions);
}

TEST_F(ManifestTest, ALogIsRefusedWhenItsFolderOrARestoredFilesCopyIsMissing) {
    ScratchFolder scratch{"manifest"};
    InstallLog read;
    EXPECT_NE(LoadInstallLog(scratch / "gone", read).find("uninstalled already"),
              std::string::npos);
    ASSERT_TRUE(WriteInstallLog(scratch.path(), log));
    EXPECT_EQ(LoadInstallLog(scratch.path(), read), "the backed-up copy of C:\\acme\\5 is missing");
    CreateDirectoryA((scratch / "backup").c_str(), nullptr);
    WriteTextFile(scratch / "backup\\win.ini", "[x]");
    InstallLog complete;
    EXPECT_EQ(LoadInstallLog(scratch.path(), complete), "");
}

// A key whose values setup changed, against the key now: setup changed
// Заметки, deleted B and added C; since then C was changed and D made.
// Заметки and B get their values from before setup, by their exact names;
// C and D stay as they are now.
TEST(RecordedKeyTest, AKeysValuesGoBackOnlyWhereTheyStillHoldSetupsValues) {
    const std::string key = "Software\\Trun95TestLogKey";
    RemoveTestKey(HKEY_CURRENT_USER, key);
    RTREE* pBefore = NewRegistryNode();
    RTREE* pSetup = NewRegistryNode();
    RTREE* pNow = NewRegistryNode();
    for (auto [pNode, pszName, pszData] : {std::tuple{pBefore, "Заметки", "日本"},
                                           {pBefore, "B", "1"},
                                           {pSetup, "Заметки", "2"},
                                           {pSetup, "C", "1"}})
        pNode->pData =
            NewRegistryData(REG_SZ, static_cast<DWORD>(std::strlen(pszData) + 1),
                            reinterpret_cast<const BYTE*>(pszData), pszName, pNode->pData);
    for (auto [pszName, pszData] : {std::pair{"Заметки", "2"}, {"C", "3"}, {"D", "x"}})
        SetTestString(HKEY_CURRENT_USER, key, pszName, pszData);
    ScanRegistryKey(HKEY_CURRENT_USER, key.c_str(), pNow);
    KeyUndo undo = PlanChangedValuesUndo(pBefore, pSetup, pNow);
    ASSERT_EQ(undo.kept.size(), 1u);
    EXPECT_EQ(undo.kept[0].value, "C");
    ASSERT_TRUE(CarryOutKeyUndo(HKEY_CURRENT_USER, key, undo));
    auto values = ReadLiveValues(HKEY_CURRENT_USER, key);
    std::sort(values.begin(), values.end(),
              [](const LiveValue& a, const LiveValue& b) { return a.name < b.name; });
    EXPECT_EQ(values, (std::vector<LiveValue>{{"B", REG_SZ, std::string("1", 2)},
                                              {"C", REG_SZ, std::string("3", 2)},
                                              {"D", REG_SZ, std::string("x", 2)},
                                              {"Заметки", REG_SZ, std::string("日本", 7)}}));
    for (RTREE* pNode : {pBefore, pSetup, pNow})
        FreeRegistryNode(pNode, 1);
    RemoveTestKey(HKEY_CURRENT_USER, key);
}

} // namespace
