// The registry snapshot: what the reader records of keys, values and
// subkeys, what it leaves out, and how nodes are freed.
#include "registry/snapshot.h"
#include "registry/keypath.h"
#include "registry/wide_names.h"
#include "common/guard.h"
#include "support/hosted_test.h"
#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

const std::string kKey = "Software\\Trun95TestSnap";
const std::string kTarget = "Software\\Trun95TestSnapTarget";

LONG WINAPI RefuseOpenOnce(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) {
    pfnOpenRegistryKey = OpenRegistryKeyText;
    return ERROR_INVALID_PARAMETER;
}

class RegistrySnapshotTest : public HostedTest {
  protected:
    void SetUp() override {
        HostedTest::SetUp();
        LoadRegistryStrings();
        RemoveTestKey(HKEY_CURRENT_USER, kKey);
    }
    void TearDown() override {
        FreeRegistrySnapshot(&pSnap);
        FreeRegistryNode(pKey, 1);
        RemoveTestKey(HKEY_CURRENT_USER, kKey);
        RemoveTestKey(HKEY_LOCAL_MACHINE, kTarget);
        HostedTest::TearDown();
    }
    // The test key as the reader records it.
    RTREE* Snap() {
        FreeRegistryNode(pKey, 1);
        pKey = NewRegistryNode();
        EXPECT_EQ(ScanRegistryKey(HKEY_CURRENT_USER, kKey.c_str(), pKey), 1);
        return pKey;
    }
    REGTRE* pSnap = nullptr;
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
