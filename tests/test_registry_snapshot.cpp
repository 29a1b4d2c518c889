// The registry snapshot: what the reader records of keys, values and
// subkeys, what it leaves out, how roots that show the same keys are read
// once, and how nodes are freed.
#include "registry/snapshot.h"
#include "registry/compare.h"
#include "actions/deaction.h"
#include "registry/keypath.h"
#include "registry/wide_names.h"
#include "common/guard.h"
#include "support/hosted_test.h"
#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

const std::string kKey = "Software\\Trun95TestSnap";
const std::string kTarget = "Software\\Trun95TestSnapTarget";

// Added below keys that two roots show.
const std::string kShared = "Trun95TestSnapShared";
const std::string kClassesShared = "Software\\Classes\\" + kShared;

LONG WINAPI RefuseOpenOnce(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) {
    pfnOpenRegistryKey = OpenRegistryKeyText;
    return ERROR_INVALID_PARAMETER;
}

int cSharedOpens;

LONG WINAPI CountSharedOpens(HKEY hKey, LPCSTR pszName, DWORD dwOptions, REGSAM sam, PHKEY phKey) {
    if (kShared == pszName)
        ++cSharedOpens;
    return OpenRegistryKeyText(hKey, pszName, dwOptions, sam, phKey);
}

// The key of HKEY_USERS that HKEY_CURRENT_USER shows: the one below which a
// key made under HKEY_CURRENT_USER appears (the key is left in place).
std::string UserOfCurrentUser() {
    CreateTestKey(HKEY_CURRENT_USER, "Software\\" + kShared);
    std::string found;
    char szName[256];
    for (DWORD i = 0; !RegEnumKeyA(HKEY_USERS, i, szName, sizeof szName); ++i) {
        if (TestKeyExists(HKEY_USERS, std::string(szName) + "\\Software\\" + kShared))
            found = szName;
    }
    return found;
}

// Two trees hold the same keys, values and flags in the same order.
void ExpectSameTree(const RTREE* pA, const RTREE* pB, const std::string& path) {
    ASSERT_EQ(ChildNames(pA), ChildNames(pB)) << path;
    EXPECT_EQ(pA->hRoot, pB->hRoot) << path;
    EXPECT_EQ(pA->fUnreadable, pB->fUnreadable) << path;
    const RDATA* pDataB = pB->pData;
    for (const RDATA* pDataA = pA->pData; pDataA; pDataA = pDataA->pNext, pDataB = pDataB->pNext) {
        ASSERT_NE(pDataB, nullptr) << path;
        EXPECT_EQ(std::string(pDataA->pszName), pDataB->pszName) << path;
        EXPECT_EQ(pDataA->dwType, pDataB->dwType) << path;
        ASSERT_EQ(pDataA->cbData, pDataB->cbData) << path;
        EXPECT_EQ(std::memcmp(pDataA->abData, pDataB->abData, pDataA->cbData), 0) << path;
    }
    EXPECT_EQ(pDataB, nullptr) << path;
    for (const RTREE *pChildA = pA->pChild, *pChildB = pB->pChild; pChildA;
         pChildA = pChildA->pNext, pChildB = pChildB->pNext)
        ExpectSameTree(pChildA, pChildB, path + "\\" + pChildA->pszName);
}

class RegistrySnapshotTest : public HostedTest {
  protected:
    void SetUp() override {
        HostedTest::SetUp();
        LoadRegistryStrings();
        RemoveTestKeys();
    }
    void TearDown() override {
        pfnOpenRegistryKey = OpenRegistryKeyText;
        FreeRegistrySnapshot(&pSnap);
        FreeRegistrySnapshot(&pAfter);
        FreeRegistryNode(pKey, 1);
        FreeActionList();
        RemoveTestKeys();
        HostedTest::TearDown();
    }
    void RemoveTestKeys() {
        RemoveTestKey(HKEY_CURRENT_USER, kKey);
        RemoveTestKey(HKEY_LOCAL_MACHINE, kTarget);
        RemoveTestKey(HKEY_CURRENT_USER, "Software\\" + kShared);
        RemoveTestKey(HKEY_LOCAL_MACHINE, kClassesShared);
    }
    // The test key as the reader records it.
    RTREE* Snap() {
        FreeRegistryNode(pKey, 1);
        pKey = NewRegistryNode();
        EXPECT_EQ(ScanRegistryKey(HKEY_CURRENT_USER, kKey.c_str(), pKey), 1);
        return pKey;
    }
    REGTRE* pSnap = nullptr;
    REGTRE* pAfter = nullptr;
    RTREE* pKey = nullptr;
};

TEST_F(RegistrySnapshotTest,
       SoftwareSnapshotScansOnlyLocalMachineSoftwareAndChecksEntriesWhenFreed) {
    FreeRegistrySnapshot(&pSnap);
    EXPECT_EQ(pSnap, nullptr);
    TakeSoftwareSnapshot(&pSnap, host.status());
    ASSERT_NE(pSnap, nullptr);
    for (int i : {0, 2, 3}) {
        EXPECT_EQ(pSnap[i].pNode->pChild, nullptr);
        EXPECT_EQ(pSnap[i].pNode->pData, nullptr);
        EXPECT_EQ(pSnap[i].pNode->hRoot, nullptr);
    }
    EXPECT_NE(NodeAt(pSnap[1].pNode, "Microsoft"), nullptr);
    EXPECT_EQ(WindowText(host.status()), "Scanning Registry Hkey_local_machine\\Software");

    // A damaged entry is an assertion report that reaches the guard.
    pSnap[2].dwSent = 0;
    robot.ExpectBoxStartingWith("Tarnel Uninstaller",
                                "Assertion failed: p[i].dwSent == REGTRE_SENT, file Registry, line",
                                IDOK);
    EXPECT_FALSE(Guarded([&] { FreeRegistrySnapshot(&pSnap); }));
    EXPECT_NE(pSnap, nullptr);
    pSnap[2].dwSent = REGTRE_SENT;
    FreeRegistrySnapshot(&pSnap);
    EXPECT_EQ(pSnap, nullptr);
}

TEST_F(RegistrySnapshotTest, SkipListNamesAreLeftOutAtAnyDepthInTheirExactCase) {
    for (const char* psz : {"Streams\\Inner", "A\\RunMRU", "A\\B\\recent", "A\\B\\Recent",
                            "A\\B\\Recent File List", "A\\UuidPersistentData", "A\\StreamMRU"})
        CreateTestKey(HKEY_CURRENT_USER, kKey + "\\" + psz);
    for (const char* psz : {"RECENT", "Streams2", "A\\RunMRUs", "A\\B\\RecentDocs2"})
        CreateTestKey(HKEY_CURRENT_USER, kKey + "\\" + psz);
    Snap();
    Names top = ChildNames(pKey);
    EXPECT_EQ(std::count(top.begin(), top.end(), "Streams"), 0);
    EXPECT_EQ(std::count(top.begin(), top.end(), "RECENT"), 1);
    EXPECT_EQ(std::count(top.begin(), top.end(), "Streams2"), 1);
    EXPECT_EQ(ChildNames(NodeAt(pKey, "A")), (Names{"B", "RunMRUs"}));
    EXPECT_EQ(ChildNames(NodeAt(pKey, "A\\B")), (Names{"RecentDocs2"}));
}

// Values stand in reverse enumeration order, children in enumeration order;
// a link key, dangling or not, is recorded as itself: its target alone, even
// after an open that the registry refused as invalid.
TEST_F(RegistrySnapshotTest, ValuesAndChildrenAreRecordedWithTheirDataAndParents) {
    SetTestString(HKEY_CURRENT_USER, kKey, "", "default text");
    SetTestString(HKEY_CURRENT_USER, kKey, "Alpha", "1");
    DWORD dwNumber = 0x12345678;
    SetTestValue(HKEY_CURRENT_USER, kKey, "Beta", REG_DWORD, &dwNumber, sizeof dwNumber);
    SetTestValue(HKEY_CURRENT_USER, kKey, "Gamma", REG_BINARY, "\x01\x00\x02", 3);
    SetTestString(HKEY_CURRENT_USER, kKey, "Заметки", "日本");
    for (const char* psz : {"Zulu", "Mike", "Alpha"})
        SetTestString(HKEY_CURRENT_USER, kKey + "\\" + psz, "v", psz);
    CreateLinkKey(HKEY_CURRENT_USER, kKey + "\\Unopenable", "Software\\Trun95TestNoSuchKey");
    SetTestString(HKEY_LOCAL_MACHINE, kTarget + "\\Below", "target", "1");
    CreateLinkKey(HKEY_CURRENT_USER, kKey + "\\Link", kTarget);

    pfnOpenRegistryKey = RefuseOpenOnce;
    HKEY hKey = nullptr;
    EXPECT_EQ(OpenRegistryKeyNoLink(HKEY_CURRENT_USER, "x", 0, &hKey), ERROR_INVALID_PARAMETER);
    Snap();
    std::vector<LiveValue> recorded;
    for (const RDATA* p = pKey->pData; p; p = p->pNext)
        recorded.insert(recorded.begin(),
                        {p->pszName, p->dwType,
                         std::string(reinterpret_cast<const char*>(p->abData), p->cbData)});
    EXPECT_EQ(recorded.size(), 5u);
    EXPECT_EQ(recorded, ReadLiveValues(HKEY_CURRENT_USER, kKey));

    // The registry lists subkeys sorted by name; the snapshot keeps that order.
    EXPECT_EQ(ChildNames(pKey), (Names{"Alpha", "Link", "Mike", "Unopenable", "Zulu"}));
    for (RTREE* pChild = pKey->pChild; pChild; pChild = pChild->pNext) {
        std::string name = pChild->pszName;
        EXPECT_EQ(pChild->pParent, pKey);
        EXPECT_EQ(pChild->hRoot, HKEY_CURRENT_USER);
        EXPECT_EQ(pChild->pChild, nullptr) << name;
        EXPECT_EQ(IsRegistryLink(pChild), name == "Unopenable" || name == "Link") << name;
    }
}

// Values, names and paths of any size are read whole: data that fills or
// passes the shared buffer, long value and subkey names, and paths longer
// than any fixed buffer.
TEST_F(RegistrySnapshotTest, ValuesNamesAndPathsOfAnySizeAreReadWhole) {
    std::string exact(8192, 'x');
    for (size_t i = 0; i < exact.size(); ++i)
        exact[i] = static_cast<char>(i * 7);
    std::string large(100 * 1024, 'y');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 13 + 1);
    SetTestValue(HKEY_CURRENT_USER, kKey + "\\Sizes", "Exact", REG_BINARY, exact.data(), 8192);
    SetTestString(HKEY_CURRENT_USER, kKey + "\\Sizes", "A", "before");
    SetTestValue(HKEY_CURRENT_USER, kKey + "\\Sizes", "Large", REG_BINARY, large.data(),
                 static_cast<DWORD>(large.size()));
    SetTestString(HKEY_CURRENT_USER, kKey + "\\Sizes", "Z", "after");
    std::string longName(600, 'v');
    SetTestString(HKEY_CURRENT_USER, kKey, longName, "long name");
    std::string subkeyName(200, 's');
    SetTestString(HKEY_CURRENT_USER, kKey + "\\" + subkeyName, "inner", "1");
    std::string path = kKey + "\\Deep";
    for (int i = 0; i < 18; ++i) {
        path += "\\" + std::string(120, 'n');
        SetTestString(HKEY_CURRENT_USER, path, "level", std::to_string(i));
    }

    Snap();
    std::vector<LiveValue> recorded;
    for (const RDATA* p = NodeAt(pKey, "Sizes")->pData; p; p = p->pNext)
        recorded.insert(recorded.begin(),
                        {p->pszName, p->dwType,
                         std::string(reinterpret_cast<const char*>(p->abData), p->cbData)});
    EXPECT_TRUE(recorded == ReadLiveValues(HKEY_CURRENT_USER, kKey + "\\Sizes"));
    EXPECT_EQ(recorded.size(), 4u);
    const RDATA* pLarge = ValueOf(NodeAt(pKey, "Sizes"), "Large");
    ASSERT_NE(pLarge, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pLarge->abData) + large.size(), 4),
              std::string(4, '\0'));
    EXPECT_NE(ValueOf(pKey, longName), nullptr);
    EXPECT_NE(ValueOf(NodeAt(pKey, subkeyName), "inner"), nullptr);

    int cLevels = 0;
    for (RTREE* p = NodeAt(pKey, "Deep")->pChild; p; p = p->pChild) {
        EXPECT_NE(ValueOf(p, "level"), nullptr) << cLevels;
        ++cLevels;
    }
    EXPECT_EQ(cLevels, 18);
}

// HKEY_CURRENT_USER and HKEY_CLASSES_ROOT show keys of HKEY_USERS and of
// HKLM\\Software\\Classes: each such key is read once, yet each root holds
// what reading it would give, a key added below a shared key is reported
// under every root that shows it, and no marker key of the proof is left.
TEST_F(RegistrySnapshotTest, KeysTwoRootsShowAreReadOnceAndReportedUnderEachRoot) {
    std::string user = UserOfCurrentUser();
    ASSERT_FALSE(user.empty());
    SetTestString(HKEY_LOCAL_MACHINE, kClassesShared, "v", "1");
    pfnOpenRegistryKey = CountSharedOpens;
    TakeRegistrySnapshot(&pSnap, host.status());
    pfnOpenRegistryKey = OpenRegistryKeyText;
    EXPECT_EQ(cSharedOpens, 2);
    for (int i : {0, 2}) {
        RTREE* pRead = NewRegistryNode();
        ScanRegistryKey(aRegRoots[i].hRoot, aRegRoots[i].szStartPath, pRead);
        ExpectSameTree(pSnap[i].pNode, pRead, aRegRoots[i].szDisplayName);
        FreeRegistryNode(pRead, 1);
        for (const std::string& name : ChildNames(pSnap[i].pNode))
            EXPECT_EQ(name.find("Trun95 view marker"), std::string::npos);
    }
    SetTestString(HKEY_USERS, user + "\\Software\\" + kShared + "\\Below", "v", "1");
    SetTestString(HKEY_LOCAL_MACHINE, kClassesShared + "\\Below", "v", "1");
    TakeRegistrySnapshot(&pAfter, host.status());
    CompareRegistrySnapshots(&pSnap, &pAfter, OnRegValueChange, OnRegKeyChange);
    EXPECT_EQ(RegistryActionTexts(kShared),
              (Names{"Key Added Hkey_classes_root\\" + kShared + "\\Below",
                     "Key Added Hkey_local_machine\\" + kClassesShared + "\\Below",
                     "Key Added Hkey_current_user\\Software\\" + kShared + "\\Below",
                     "Key Added Hkey_users\\" + user + "\\Software\\" + kShared + "\\Below"}));
}

using RegistryNodeTest = HostedTest;

TEST_F(RegistryNodeTest, FreeingOneNodeUnlinksItFromItsParent) {
    RTREE* pRoot = NewRegistryNode();
    RTREE* pA = AddTestChild(pRoot, "A");
    RTREE* pB = AddTestChild(pRoot, "B", "v");
    RTREE* pC = AddTestChild(pRoot, "C");
    FreeRegistryNode(pB, 0);
    EXPECT_EQ(ChildNames(pRoot), (Names{"A", "C"}));
    FreeRegistryNode(pA, 0);
    EXPECT_EQ(pRoot->pChild, pC);
    EXPECT_EQ(pC->pNext, nullptr);
    FreeRegistryNode(pRoot, 1);
}

TEST_F(RegistryNodeTest, DamagedSentinelGivesAnAssertionReportAndReachesTheGuard) {
    RTREE* pNode = NewRegistryNode();
    pNode->dwSent = 0x12345678;
    robot.ExpectBoxStartingWith("Tarnel Uninstaller",
                                "Assertion failed: pNode->dwSent==RTREE_SENT, file Registry, line",
                                IDOK);
    DWORD dwCode = 0;
    EXPECT_FALSE(Guarded([&] { FreeRegistryNode(pNode, 1); }, &dwCode));
    EXPECT_EQ(dwCode, static_cast<DWORD>(EXC_INTERNAL));
    pNode->dwSent = RTREE_SENT;
    FreeRegistryNode(pNode, 1);
}

} // namespace
