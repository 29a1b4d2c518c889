// Comparison of two registry snapshots: which keys become "Key Added",
// "Key Deleted" and "Value Changed" actions, and how trees are matched.
#include "registry/compare.h"
#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Letters a to z as capitals; every other byte stays.
char Capital(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameNameFolded(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return Capital(x) == Capital(y);
           });
}

using Texts = std::vector<std::string>;

constexpr char kMarker[] = "Trun95TestCmp";
const std::string kBase = std::string("Software\\") + kMarker;

class RegistryCompareTest : public RegistryChangeTest {
  protected:
    RegistryCompareTest() : RegistryChangeTest(kMarker) {}
};

// Any change to a key's values marks the key once; a key renamed only in
// letter case is the same key; a deleted or added subtree is one action for
// its top key, whatever its name holds.
TEST_F(RegistryCompareTest, ValueAndKeyChangesGiveOneActionPerKeyIgnoringLetterCase) {
    SetTestString(HKEY_CURRENT_USER, kBase + "\\Data", "v", "1");
    SetTestValue(HKEY_CURRENT_USER, kBase + "\\Type", "v", REG_SZ, "ab", 3);
    SetTestString(HKEY_CURRENT_USER, kBase + "\\Gained", "v", "1");
    SetTestString(HKEY_CURRENT_USER, kBase + "\\Lost", "v", "1");
    SetTestString(HKEY_CURRENT_USER, kBase + "\\Lost", "w", "1");
    SetTestString(HKEY_CURRENT_USER, kBase + "\\Default", "", "old");
    SetTestString(HKEY_CURRENT_USER, kBase + "\\Kept\\Below", "v", "1");
    SetTestString(HKEY_CURRENT_USER, kBase + "\\Acme", "v", "1");
    SetTestString(HKEY_CURRENT_USER, kBase + "\\Old\\Sub\\Leaf", "v", "1");
    Before();
    SetTestString(HKEY_CURRENT_USER, kBase + "\\Data", "v", "2");
    SetTestValue(HKEY_CURRENT_USER, kBase + "\\Type", "v", REG_BINARY, "ab", 3);
    SetTestString(HKEY_CURRENT_USER, kBase + "\\Gained", "w", "1");
    DeleteTestValue(HKEY_CURRENT_USER, kBase + "\\Lost", "w");
    SetTestString(HKEY_CURRENT_USER, kBase + "\\Default", "", "new");
    SetTestString(HKEY_CURRENT_USER, kBase + "\\Kept\\Below", "added", "1");
    RemoveTestKey(HKEY_CURRENT_USER, kBase + "\\Acme");
    SetTestString(HKEY_CURRENT_USER, kBase + "\\ACME", "v", "1");
    RemoveTestKey(HKEY_CURRENT_USER, kBase + "\\Old");
    SetTestString(HKEY_CURRENT_USER, kBase + "\\100%s%d done\\Sub", "v", "1");
    CreateTestKey(HKEY_CLASSES_ROOT, kMarker);
    Texts texts = AfterAndCompare();
    const std::string p = "Hkey_current_user\\" + kBase + "\\";
    const std::string v = "Value Changed " + p;
    EXPECT_EQ(Containing(texts, "Hkey_current_user"),
              (Texts{v + "Data", v + "Default", v + "Gained", v + "Kept\\Below", v + "Lost",
                     "Key Deleted " + p + "Old", v + "Type", "Key Added " + p + "100%s%d done"}));
    EXPECT_EQ(Containing(texts, "Hkey_classes_root"),
              Texts{"Key Added Hkey_classes_root\\Trun95TestCmp"});
    EXPECT_STREQ(NodeAt(pAfter[2].pNode, "Trun95TestCmp\\acme")->pszName, "ACME");
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
    static std::vector<Report> reports;
    static int Record(const char* pszPath, const char* pszName, DWORD dwCode, RTREE* pNode) {
        reports.push_back({pszPath, pszName, dwCode, pNode});
        return 1;
    }
    void TearDown() override {
        for (RTREE* pNode : trees)
            FreeRegistryNode(pNode, 1);
        HostedTest::TearDown();
    }
    RTREE* Tree() { return trees.emplace_back(NewRegistryNode()); }

    // The plain walk of the whole other chain for every child, as the
    // reference for the order and content of the reports.
    static void ReferenceWalk(int iDirection, RTREE* a, RTREE* b, std::string& path,
                              std::vector<Report>& out) {
        for (RTREE* x = a->pChild; x; x = x->pNext) {
            bool fFound = false;
            for (RTREE* y = b->pChild; y; y = y->pNext) {
                if (!SameNameFolded(x->pszName, y->pszName))
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
};

std::vector<RegistryMatchTest::Report> RegistryMatchTest::reports;

// The registry lists names with letters folded to capitals, so "_", "^" and
// "[" come after the letters; chains in that order are matched in one pass,
// others through an index, and both give the reports of the whole walk.
bool ListedBefore(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(Capital(x)) < static_cast<unsigned char>(Capital(y));
    });
}

TEST_F(RegistryMatchTest, ManyChildrenAreMatchedInTheOrderOfAWholeChainWalk) {
    const char* apszStems[] = {"Key", "key_", "KEY^", "Key[", "k\xE9y", "Ke\xFF", "KEY9", "_"};
    for (bool fListed : {false, true}) {
        for (int cChildren : {3, 15, 16, 17, 300}) {
            SCOPED_TRACE(std::to_string(cChildren) + (fListed ? " listed" : " unordered"));
            unsigned uSeed = 12345u + static_cast<unsigned>(cChildren);
            auto next = [&] { return (uSeed = uSeed * 1103515245u + 12345u) >> 16; };
            auto names = [&] {
                std::vector<std::string> out;
                for (int i = 0; i < cChildren; ++i)
                    out.push_back(apszStems[next() % 8] + std::to_string(next() % (cChildren + 5)));
                if (fListed)
                    std::stable_sort(out.begin(), out.end(), ListedBefore);
                return out;
            };
            RTREE* a = Tree();
            RTREE* b = Tree();
            for (const std::string& name : names()) {
                RTREE* x = AddTestChild(a, name, next() % 4 ? "same" : "old");
                AddTestChild(x, "Inner" + std::to_string(next() % 3), "1");
            }
            for (std::string name : names()) {
                for (char& c : name)
                    c = next() % 2 ? Capital(c) : c;
                RTREE* y = AddTestChild(b, name, "same");
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
}

TEST_F(RegistryMatchTest, ValueListsAreEqualOnlyPairByPairInStoredOrder) {
    auto data = [](const char* pszName, DWORD dwType, const char* pszBytes, RDATA* pNext) {
        return NewRegistryData(dwType, static_cast<DWORD>(std::strlen(pszBytes)),
                               reinterpret_cast<const BYTE*>(pszBytes), pszName, pNext);
    };
    RDATA* ab = data("A", REG_SZ, "1", data("B", REG_SZ, "2", nullptr));
    RDATA* abCase = data("a", REG_SZ, "1", data("b", REG_SZ, "2", nullptr));
    RDATA* a = data("A", REG_SZ, "1", nullptr);
    RDATA* apDifferent[] = {data("B", REG_SZ, "2", data("A", REG_SZ, "1", nullptr)),
                            data("A", REG_SZ, "1", data("B", REG_BINARY, "2", nullptr)),
                            data("A", REG_SZ, "1", data("B", REG_SZ, "3", nullptr)),
                            data("A", REG_SZ, "1", data("B", REG_SZ, "22", nullptr)), a};
    EXPECT_TRUE(SameRegistryValues(nullptr, nullptr));
    EXPECT_TRUE(SameRegistryValues(ab, abCase));
    for (RDATA* pOther : apDifferent) {
        EXPECT_FALSE(SameRegistryValues(ab, pOther));
        EXPECT_FALSE(SameRegistryValues(pOther, ab));
        FreeRegistryData(pOther, nullptr, 1);
    }
    EXPECT_FALSE(SameRegistryValues(nullptr, ab));
    FreeRegistryData(ab, nullptr, 1);
    FreeRegistryData(abCase, nullptr, 1);
}

TEST_F(RegistryMatchTest, OverlongPathIsCutAtTheBufferWithoutOverrun) {
    RTREE* x = Tree();
    RTREE* y = Tree();
    RTREE* b = y;
    std::string component(200, 'c');
    for (int i = 0; i < 12; ++i) {
        x = AddTestChild(x, component, "1");
        y = AddTestChild(y, component, "1");
    }
    AddTestChild(y, "Extra");
    std::vector<Report> found = Compare(REG_REVERSE, b, trees[0]);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path.size(), cbRegPath - 1);
    EXPECT_EQ(found[0].path.substr(0, 205), "Root\\" + component);
    EXPECT_EQ(found[0].name, "Extra");
}

} // namespace
