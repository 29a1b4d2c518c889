// Comparison of two registry snapshots: which keys become "Key Added",
// "Key Deleted" and "Value Changed" actions, in which order, with which
// texts and nodes.
#include "actions/deaction.h"
#include "common/util.h"
#include "registry/registry.h"
#include "session/session.h"
#include "support/registry_change_test.h"
#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

constexpr char kMarker[] = "Trun95TestCmp";

Texts Containing(const Texts& texts, const std::string& part) {
    Texts found;
    for (const std::string& text : texts) {
        if (text.find(part) != std::string::npos)
            found.push_back(text);
    }
    return found;
}

class RegistryCompareTest : public RegistryChangeTest {
  protected:
    RegistryCompareTest() : RegistryChangeTest(kMarker) {}
};

TEST_F(RegistryCompareTest, ChangesUnderEveryRootBecomeActionsInReportOrder) {
    for (const TestRoot& root : roots) {
        SetTestString(root.hRoot, root.path + "\\Keep", "v", "1");
        SetTestString(root.hRoot, root.path + "\\Keep\\Deep\\Deeper", "x", "1");
        SetTestString(root.hRoot, root.path + "\\Gone\\Sub", "s", "1");
        SetTestString(root.hRoot, root.path + "\\Same", "s", "1");
    }
    Before();
    for (const TestRoot& root : roots) {
        SetTestString(root.hRoot, root.path + "\\Keep\\Deep\\Deeper", "x", "2");
        RemoveTestKey(root.hRoot, root.path + "\\Gone");
        SetTestString(root.hRoot, root.path + "\\Keep\\New\\Inner", "n", "1");
        CreateTestKey(root.hRoot, root.path + "\\Added");
    }
    Texts texts = AfterAndCompare();

    size_t iPrevious = 0;
    for (const TestRoot& root : roots) {
        const std::string& p = root.shown;
        EXPECT_EQ(
            Containing(texts, p + "\\"),
            (Texts{"Key Deleted " + p + "\\Gone", "Value Changed " + p + "\\Keep\\Deep\\Deeper",
                   "Key Added " + p + "\\Added", "Key Added " + p + "\\Keep\\New"}));
        // The roots follow the table order.
        auto it = std::find(texts.begin(), texts.end(), "Key Deleted " + p + "\\Gone");
        ASSERT_NE(it, texts.end());
        size_t iFirst = static_cast<size_t>(it - texts.begin());
        EXPECT_GE(iFirst, iPrevious);
        iPrevious = iFirst;
    }
}

TEST_F(RegistryCompareTest, ActionsCarryCategoryNodeAndDescribeText) {
    const std::string base = "Software\\Trun95TestCmp";
    SetTestString(HKEY_CURRENT_USER, base + "\\Changed", "v", "1");
    SetTestString(HKEY_CURRENT_USER, base + "\\Deleted", "v", "1");
    Before();
    SetTestString(HKEY_CURRENT_USER, base + "\\Changed", "v", "2");
    RemoveTestKey(HKEY_CURRENT_USER, base + "\\Deleted");
    CreateTestKey(HKEY_CURRENT_USER, base + "\\Added");
    AfterAndCompare();

    std::vector<DEACTION*> actions = RegistryActions("Hkey_current_user\\Software\\Trun95TestCmp");
    ASSERT_EQ(actions.size(), 3u);
    RTREE* pBeforeKey = NodeAt(pBefore[2].pNode, "Trun95TestCmp");
    RTREE* pAddedNode = NodeAt(pAfter[2].pNode, "Trun95TestCmp\\Added");
    const void* apExpectedNode[] = {NodeAt(pBeforeKey, "Changed"), NodeAt(pBeforeKey, "Deleted"),
                                    pAddedNode};
    const char* apszCategory[] = {"Value Changed", "Key Deleted", "Key Added"};
    const DWORD adwChange[] = {REG_VALUES_CHANGED, REG_KEY_DELETED, REG_KEY_ADDED};
    const std::string p = "Hkey_current_user\\Software\\Trun95TestCmp";
    Texts described;
    for (size_t i = 0; i < actions.size(); ++i) {
        DEACTION* pact = actions[i];
        EXPECT_EQ(pact->wKind, DEA_REGISTRY);
        EXPECT_EQ(pact->wOrder, 6);
        EXPECT_STREQ(pact->szObject, apszCategory[i]);
        EXPECT_EQ(pact->pExtra, apExpectedNode[i]);
        EXPECT_EQ(static_cast<RTREE*>(pact->pExtra)->dwChange, adwChange[i]);
        EXPECT_EQ(AcceptRegistryAction(pact), 1);
        char szText[cbRegDescribe] = "unchanged";
        EXPECT_EQ(DescribeRegistryAction(pact, szText), 1);
        described.push_back(szText);
    }
    EXPECT_EQ(described,
              (Texts{"Restore the Registry Values for Key Value Changed " + p +
                         "\\Changed, which were modified ",
                     "Restore the Registry Key Key Deleted " + p + "\\Deleted, which was deleted ",
                     "Delete the Registry Key Key Added " + p + "\\Added, which was added "}));

    static_cast<RTREE*>(actions[0]->pExtra)->dwChange = 0;
    char szText[cbRegDescribe] = "unchanged";
    EXPECT_EQ(DescribeRegistryAction(actions[0], szText), 1);
    EXPECT_STREQ(szText, "unchanged");
    static_cast<RTREE*>(actions[0]->pExtra)->dwChange = REG_VALUES_CHANGED;
}

TEST_F(RegistryCompareTest, KeyRenamedOnlyInLetterCaseGivesNoAction) {
    const std::string base = "Software\\Trun95TestCmp";
    SetTestString(HKEY_CURRENT_USER, base + "\\Acme", "v", "1");
    Before();
    RemoveTestKey(HKEY_CURRENT_USER, base + "\\Acme");
    SetTestString(HKEY_CURRENT_USER, base + "\\ACME", "v", "1");
    EXPECT_EQ(AfterAndCompare(), Texts{});
    EXPECT_NE(NodeAt(pAfter[2].pNode, "Trun95TestCmp\\ACME"), nullptr);
    EXPECT_STREQ(NodeAt(pAfter[2].pNode, "Trun95TestCmp")->pChild->pszName, "ACME");
}

TEST_F(RegistryCompareTest, ValueDataTypeAndPresenceChangesMarkTheKey) {
    const std::string base = "Software\\Trun95TestCmp";
    SetTestString(HKEY_CURRENT_USER, base + "\\Data", "v", "1");
    SetTestValue(HKEY_CURRENT_USER, base + "\\Type", "v", REG_SZ, "ab", 3);
    SetTestString(HKEY_CURRENT_USER, base + "\\Gained", "v", "1");
    SetTestString(HKEY_CURRENT_USER, base + "\\Lost", "v", "1");
    SetTestString(HKEY_CURRENT_USER, base + "\\Lost", "w", "1");
    SetTestString(HKEY_CURRENT_USER, base + "\\Default", "", "old");
    SetTestString(HKEY_CURRENT_USER, base + "\\Kept", "v", "1");
    SetTestString(HKEY_CURRENT_USER, base + "\\Kept\\Below", "v", "1");
    Before();
    SetTestString(HKEY_CURRENT_USER, base + "\\Data", "v", "2");
    SetTestValue(HKEY_CURRENT_USER, base + "\\Type", "v", REG_BINARY, "ab", 3);
    SetTestString(HKEY_CURRENT_USER, base + "\\Gained", "w", "1");
    DeleteTestValue(HKEY_CURRENT_USER, base + "\\Lost", "w");
    SetTestString(HKEY_CURRENT_USER, base + "\\Default", "", "new");
    SetTestString(HKEY_CURRENT_USER, base + "\\Kept\\Below", "added", "1");
    Texts texts = AfterAndCompare();
    const std::string p = "Value Changed Hkey_current_user\\Software\\Trun95TestCmp\\";
    EXPECT_EQ(Containing(texts, "Hkey_current_user"),
              (Texts{p + "Data", p + "Default", p + "Gained", p + "Kept\\Below", p + "Lost",
                     p + "Type"}));
}

TEST_F(RegistryCompareTest, DeletedOrAddedSubtreeIsOneActionAndPercentSignsStayAsTheyAre) {
    const std::string base = "Software\\Trun95TestCmp";
    SetTestString(HKEY_CURRENT_USER, base + "\\Old\\Sub\\Leaf", "v", "1");
    Before();
    RemoveTestKey(HKEY_CURRENT_USER, base + "\\Old");
    SetTestString(HKEY_CURRENT_USER, base + "\\100%s%d done\\Sub", "v", "1");
    EXPECT_EQ(Containing(AfterAndCompare(), "Hkey_current_user"),
              (Texts{"Key Deleted Hkey_current_user\\Software\\Trun95TestCmp\\Old",
                     "Key Added Hkey_current_user\\Software\\Trun95TestCmp\\100%s%d done"}));
}

TEST_F(RegistryCompareTest, KeyAddedDirectlyBelowClassesRootNamesTheRoot) {
    Before();
    CreateTestKey(HKEY_CLASSES_ROOT, kMarker);
    EXPECT_EQ(Containing(AfterAndCompare(), "Hkey_classes_root"),
              Texts{"Key Added Hkey_classes_root\\Trun95TestCmp"});
}

// Trees built in memory: matching of children and of value lists.
class RegistryMatchTest : public HostedTest {
  protected:
    struct Report {
        std::string path;
        std::string name;
        DWORD dwCode;
        RTREE* pNode;
        bool operator==(const Report&) const = default;
    };
    static std::vector<Report>* pReports;
    static int Record(const char* pszPath, const char* pszName, DWORD dwCode, RTREE* pNode) {
        pReports->push_back({pszPath, pszName, dwCode, pNode});
        return 1;
    }

    void SetUp() override {
        HostedTest::SetUp();
        pReports = &reports;
    }
    void TearDown() override {
        for (RTREE* pNode : trees)
            FreeRegistryNode(pNode, 1);
        HostedTest::TearDown();
    }
    RTREE* Tree() {
        trees.push_back(NewRegistryNode());
        return trees.back();
    }

    // The plain walk of the whole other chain for every child, as the
    // reference for the order and content of the reports.
    static void ReferenceWalk(int iDirection, RTREE* a, RTREE* b, std::string& path,
                              std::vector<Report>& out) {
        for (RTREE* x = a->pChild; x; x = x->pNext) {
            bool fFound = false;
            for (RTREE* y = b->pChild; y; y = y->pNext) {
                if (lstrcmpiA(x->pszName, y->pszName) != 0)
                    continue;
                if (iDirection == REG_FORWARD && !SameRegistryValues(x->pData, y->pData))
                    out.push_back({path, x->pszName, REG_VALUES_CHANGED, x});
                size_t cch = path.size();
                path += std::string("\\") + x->pszName;
                ReferenceWalk(iDirection, x, y, path, out);
                path.resize(cch);
                fFound = true;
            }
            if (!fFound)
                out.push_back({path, x->pszName,
                               iDirection == REG_FORWARD ? REG_KEY_DELETED : REG_KEY_ADDED, x});
        }
    }

    std::vector<Report> Compare(int iDirection, RTREE* a, RTREE* b) {
        reports.clear();
        char szPath[cbRegPath] = "Root";
        CompareRegistryNodes(iDirection, a, b, Record, Record, szPath);
        EXPECT_STREQ(szPath, "Root");
        return reports;
    }

    std::vector<RTREE*> trees;
    std::vector<Report> reports;
};

std::vector<RegistryMatchTest::Report>* RegistryMatchTest::pReports;

TEST_F(RegistryMatchTest, ManyChildrenAreMatchedInTheOrderOfAWholeChainWalk) {
    for (int cChildren : {3, 15, 16, 17, 300}) {
        SCOPED_TRACE(cChildren);
        RTREE* a = Tree();
        RTREE* b = Tree();
        unsigned uSeed = 12345u + static_cast<unsigned>(cChildren);
        auto next = [&] { return (uSeed = uSeed * 1103515245u + 12345u) >> 16; };
        for (int i = 0; i < cChildren; ++i) {
            std::string name = "Key" + std::to_string(next() % (cChildren + 5));
            RTREE* x = AddTestChild(a, name, next() % 4 ? "same" : "old");
            AddTestChild(x, "Inner" + std::to_string(next() % 3), "1");
        }
        for (int i = 0; i < cChildren; ++i) {
            std::string name = "KEY" + std::to_string(next() % (cChildren + 5));
            RTREE* y = AddTestChild(b, next() % 2 ? name : "key" + name.substr(3), "same");
            AddTestChild(y, "inner" + std::to_string(next() % 3), "1");
        }
        for (int iDirection : {REG_FORWARD, REG_REVERSE}) {
            std::vector<Report> expected;
            std::string path = "Root";
            RTREE* pFirst = iDirection == REG_FORWARD ? a : b;
            RTREE* pSecond = iDirection == REG_FORWARD ? b : a;
            ReferenceWalk(iDirection, pFirst, pSecond, path, expected);
            for (Report& report : expected)
                report.pNode->dwChange = 0;
            std::vector<Report> actual = Compare(iDirection, pFirst, pSecond);
            EXPECT_FALSE(actual.empty());
            EXPECT_TRUE(actual == expected)
                << actual.size() << " reports, expected " << expected.size();
            for (const Report& report : actual)
                EXPECT_EQ(report.pNode->dwChange, report.dwCode);
        }
    }
}

TEST_F(RegistryMatchTest, KeysUnreadableInBothCompareEqual) {
    RTREE* a = Tree();
    RTREE* b = Tree();
    AddTestChild(a, "Locked");
    AddTestChild(b, "LOCKED");
    EXPECT_TRUE(Compare(REG_FORWARD, a, b).empty());
    EXPECT_TRUE(Compare(REG_REVERSE, b, a).empty());
}

TEST_F(RegistryMatchTest, ValueListsAreEqualOnlyPairByPairInStoredOrder) {
    auto data = [](const char* pszName, DWORD dwType, const char* pszBytes, RDATA* pNext) {
        return NewRegistryData(dwType, static_cast<DWORD>(std::strlen(pszBytes)),
                               reinterpret_cast<const BYTE*>(pszBytes), pszName, pNext);
    };
    RDATA* ab = data("A", REG_SZ, "1", data("B", REG_SZ, "2", nullptr));
    RDATA* abCase = data("a", REG_SZ, "1", data("b", REG_SZ, "2", nullptr));
    RDATA* ba = data("B", REG_SZ, "2", data("A", REG_SZ, "1", nullptr));
    RDATA* abType = data("A", REG_SZ, "1", data("B", REG_BINARY, "2", nullptr));
    RDATA* abData = data("A", REG_SZ, "1", data("B", REG_SZ, "3", nullptr));
    RDATA* abLonger = data("A", REG_SZ, "1", data("B", REG_SZ, "22", nullptr));
    RDATA* a = data("A", REG_SZ, "1", nullptr);
    EXPECT_TRUE(SameRegistryValues(nullptr, nullptr));
    EXPECT_TRUE(SameRegistryValues(ab, abCase));
    EXPECT_FALSE(SameRegistryValues(ab, ba));
    EXPECT_FALSE(SameRegistryValues(ab, abType));
    EXPECT_FALSE(SameRegistryValues(ab, abData));
    EXPECT_FALSE(SameRegistryValues(ab, abLonger));
    EXPECT_FALSE(SameRegistryValues(ab, a));
    EXPECT_FALSE(SameRegistryValues(a, ab));
    EXPECT_FALSE(SameRegistryValues(nullptr, a));
    for (RDATA* p : {ab, abCase, ba, abType, abData, abLonger, a})
        FreeRegistryData(p, nullptr, 1);
}

TEST_F(RegistryMatchTest, OverlongPathIsCutAtTheBufferWithoutOverrun) {
    RTREE* a = Tree();
    RTREE* b = Tree();
    std::string component(200, 'c');
    RTREE* x = a;
    RTREE* y = b;
    for (int i = 0; i < 12; ++i) {
        x = AddTestChild(x, component, "1");
        y = AddTestChild(y, component, "1");
    }
    AddTestChild(y, "Extra");
    std::vector<Report> found = Compare(REG_REVERSE, b, a);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path.size(), cbRegPath - 1);
    EXPECT_EQ(found[0].path.substr(0, 205), "Root\\" + component);
    EXPECT_EQ(found[0].name, "Extra");
}

} // namespace
