// The registry snapshot: what the reader records of keys, values and
// subkeys, what it leaves out, and how nodes are freed.
#include "common/util.h"
#include "registry/registry.h"
#include "session/guard.h"
#include "session/session.h"
#include "support/hosted_test.h"
#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

const std::string kKey = "Software\\Trun95TestSnap";

class RegistrySnapshotTest : public HostedTest {
  protected:
    void SetUp() override {
        HostedTest::SetUp();
        LoadRegistryStrings();
        RemoveTestKey(HKEY_CURRENT_USER, kKey);
    }
    void TearDown() override {
        FreeRegistrySnapshot(&pSnap);
        RemoveTestKey(HKEY_CURRENT_USER, kKey);
        HostedTest::TearDown();
    }
    // The test key as the snapshot of HKEY_CURRENT_USER\Software holds it.
    RTREE* Snap() {
        FreeRegistrySnapshot(&pSnap);
        TakeRegistrySnapshot(&pSnap, host.status());
        return NodeAt(pSnap[2].pNode, "Trun95TestSnap");
    }
    REGTRE* pSnap = nullptr;
};

TEST_F(RegistrySnapshotTest, EveryRootIsScannedFromItsRootKey) {
    TakeRegistrySnapshot(&pSnap, host.status());
    ASSERT_NE(pSnap, nullptr);
    for (DWORD i = 0; i < cRegRoots; ++i) {
        ASSERT_NE(pSnap[i].pNode, nullptr);
        EXPECT_EQ(pSnap[i].pNode->hRoot, aRegRoots[i].hRoot);
        EXPECT_NE(pSnap[i].pNode->pChild, nullptr);
    }
    EXPECT_NE(NodeAt(pSnap[0].pNode, "CLSID"), nullptr);
    EXPECT_NE(NodeAt(pSnap[1].pNode, "Microsoft\\Windows\\CurrentVersion"), nullptr);
    EXPECT_NE(NodeAt(pSnap[3].pNode, ".Default"), nullptr);
    EXPECT_EQ(WindowText(host.status()), "Scanning Registry Hkey_users");
}

TEST_F(RegistrySnapshotTest, SoftwareSnapshotScansOnlyLocalMachineSoftwareAndFreesToNull) {
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
    FreeRegistrySnapshot(&pSnap);
    EXPECT_EQ(pSnap, nullptr);
}

TEST_F(RegistrySnapshotTest, SkipListNamesAreLeftOutAtAnyDepthInTheirExactCase) {
    for (const char* psz : {"Streams\\Inner", "A\\RunMRU", "A\\B\\recent", "A\\B\\Recent",
                            "A\\B\\Recent File List", "A\\UuidPersistentData", "A\\StreamMRU"})
        CreateTestKey(HKEY_CURRENT_USER, kKey + "\\" + psz);
    for (const char* psz : {"RECENT", "Streams2", "A\\RunMRUs", "A\\B\\RecentDocs2"})
        CreateTestKey(HKEY_CURRENT_USER, kKey + "\\" + psz);
    RTREE* pKey = Snap();
    ASSERT_NE(pKey, nullptr);
    Names top = ChildNames(pKey);
    EXPECT_EQ(std::count(top.begin(), top.end(), "Streams"), 0);
    EXPECT_EQ(std::count(top.begin(), top.end(), "RECENT"), 1);
    EXPECT_EQ(std::count(top.begin(), top.end(), "Streams2"), 1);
    EXPECT_EQ(ChildNames(NodeAt(pKey, "A")), (Names{"B", "RunMRUs"}));
    EXPECT_EQ(ChildNames(NodeAt(pKey, "A\\B")), (Names{"RecentDocs2"}));
}

// Values stand in reverse enumeration order, children in enumeration order;
// a key that cannot be opened is an empty node.
TEST_F(RegistrySnapshotTest, ValuesAndChildrenAreRecordedWithTheirDataAndParents) {
    SetTestString(HKEY_CURRENT_USER, kKey, "", "default text");
    SetTestString(HKEY_CURRENT_USER, kKey, "Alpha", "1");
    DWORD dwNumber = 0x12345678;
    SetTestValue(HKEY_CURRENT_USER, kKey, "Beta", REG_DWORD, &dwNumber, sizeof dwNumber);
    SetTestValue(HKEY_CURRENT_USER, kKey, "Gamma", REG_BINARY, "\x01\x00\x02", 3);
    for (const char* psz : {"Zulu", "Mike", "Alpha"})
        SetTestString(HKEY_CURRENT_USER, kKey + "\\" + psz, "v", psz);
    CreateDanglingKey(HKEY_CURRENT_USER, kKey + "\\Unopenable");

    RTREE* pKey = Snap();
    ASSERT_NE(pKey, nullptr);
    std::vector<LiveValue> recorded;
    for (const RDATA* p = pKey->pData; p; p = p->pNext)
        recorded.insert(recorded.begin(),
                        {p->pszName, p->dwType,
                         std::string(reinterpret_cast<const char*>(p->abData), p->cbData)});
    EXPECT_EQ(recorded.size(), 4u);
    EXPECT_EQ(recorded, ReadLiveValues(HKEY_CURRENT_USER, kKey));

    // The registry lists subkeys sorted by name; the snapshot keeps that order.
    EXPECT_EQ(ChildNames(pKey), (Names{"Alpha", "Mike", "Unopenable", "Zulu"}));
    for (RTREE* pChild = pKey->pChild; pChild; pChild = pChild->pNext) {
        EXPECT_EQ(pChild->pParent, pKey);
        EXPECT_EQ(pChild->hRoot, HKEY_CURRENT_USER);
        EXPECT_EQ(pChild->pChild, nullptr);
        EXPECT_EQ(pChild->pData != nullptr, std::string(pChild->pszName) != "Unopenable");
    }
}

// A value that fills the shared buffer is read whole, a larger one ends the
// key's list; over-long value names and paths are left out without overrun.
TEST_F(RegistrySnapshotTest, ValuesAndPathsAtTheReadersLimitsAreCutCleanly) {
    std::string exact(8192, 'x');
    for (size_t i = 0; i < exact.size(); ++i)
        exact[i] = static_cast<char>(i * 7);
    SetTestValue(HKEY_CURRENT_USER, kKey + "\\Exact", "Data", REG_BINARY, exact.data(), 8192);
    SetTestString(HKEY_CURRENT_USER, kKey + "\\Exact", "Other", "small");
    std::string larger(8193, 'y');
    SetTestString(HKEY_CURRENT_USER, kKey + "\\Larger", "A", "before");
    SetTestValue(HKEY_CURRENT_USER, kKey + "\\Larger", "B", REG_BINARY, larger.data(), 8193);
    SetTestString(HKEY_CURRENT_USER, kKey + "\\Larger", "C", "after");
    std::string longName(600, 'v');
    SetTestString(HKEY_CURRENT_USER, kKey, longName, "long name");
    std::string path = kKey + "\\Deep";
    for (int i = 0; i < 18; ++i) {
        path += "\\" + std::string(120, 'n');
        SetTestString(HKEY_CURRENT_USER, path, "level", std::to_string(i));
    }

    RTREE* pKey = Snap();
    ASSERT_NE(pKey, nullptr);
    const RDATA* pExact = ValueOf(NodeAt(pKey, "Exact"), "Data");
    ASSERT_NE(pExact, nullptr);
    EXPECT_EQ(pExact->cbData, 8192u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pExact->abData), 8192), exact);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pExact->abData) + 8192, 4),
              std::string(4, '\0'));
    EXPECT_NE(ValueOf(NodeAt(pKey, "Exact"), "Other"), nullptr);

    Names expected;
    for (const LiveValue& value : ReadLiveValues(HKEY_CURRENT_USER, kKey + "\\Larger")) {
        if (value.name == "B")
            break;
        expected.insert(expected.begin(), value.name);
    }
    EXPECT_EQ(ValueNames(NodeAt(pKey, "Larger")), expected);
    EXPECT_EQ(ValueOf(pKey, longName), nullptr);

    // "Software\Trun95TestSnap\Deep" then 121 characters a level: level 16
    // would need more than the reader's 2047 characters and stays empty.
    int cLevels = 0, cReadLevels = 0;
    for (RTREE* p = NodeAt(pKey, "Deep")->pChild; p; p = p->pChild) {
        ++cLevels;
        if (p->pData)
            ++cReadLevels;
    }
    EXPECT_EQ(cLevels, 17);
    EXPECT_EQ(cReadLevels, 16);
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

    REGTRE* pSnap = nullptr;
    TakeSoftwareSnapshot(&pSnap, host.status());
    pSnap[2].dwSent = 0;
    robot.ExpectBoxStartingWith("Tarnel Uninstaller",
                                "Assertion failed: p[i].dwSent == REGTRE_SENT, file Registry, line",
                                IDOK);
    EXPECT_FALSE(Guarded([&] { FreeRegistrySnapshot(&pSnap); }, &dwCode));
    EXPECT_NE(pSnap, nullptr);
    pSnap[2].dwSent = REGTRE_SENT;
    FreeRegistrySnapshot(&pSnap);
}

} // namespace
