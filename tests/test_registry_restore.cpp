// Registry actions from a comparison and their carrying out: added keys go,
// deleted keys come back with every value byte for byte, changed keys are
// put back exactly; failures are reported; the shell's AlwaysUnloadDLL
// setting is set and put back.
#include "actions/deaction.h"
#include "common/strings.h"
#include "files/lists.h"
#include "registry/snapshot.h"
#include "registry/compare.h"
#include "registry/restore.h"
#include "registry/wide_names.h"
#include "common/guard.h"
#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

constexpr char kTitle[] = "Tarnel Uninstaller";
constexpr char kMarker[] = "Trun95TestRst";
const std::string kTarget = "Software\\Trun95TestRstTarget";

// Every key below path with its values, in enumeration order.
void ReadLiveTree(HKEY hRoot, const std::string& path, std::vector<std::string>& out) {
    out.push_back("key " + path);
    for (const LiveValue& value : ReadLiveValues(hRoot, path))
        out.push_back("value " + value.name + " " + std::to_string(value.dwType) + " " +
                      value.bytes);
    for (const std::string& child : LiveSubkeyNames(hRoot, path))
        ReadLiveTree(hRoot, path + "\\" + child, out);
}

class RegistryRestoreTest : public RegistryChangeTest {
  protected:
    RegistryRestoreTest() : RegistryChangeTest(kMarker) {}
    void TearDown() override {
        fRegistryAnsiCallsForTests = false;
        RegistryChangeTest::TearDown();
        RemoveTestKey(HKEY_LOCAL_MACHINE, kTarget);
    }
    std::vector<std::string> LiveState() const {
        std::vector<std::string> state;
        for (const TestRoot& root : roots)
            ReadLiveTree(root.hRoot, root.path, state);
        return state;
    }
    // Carries out the test keys' actions in list order, as the dialog does.
    void CarryOut() {
        for (DEACTION* pact : RegistryActions(kMarker)) {
            EXPECT_EQ(pact->pfnConfirm(pact), 1);
            EXPECT_EQ(pact->pfnUndo(pact), 1);
        }
    }
    std::string NewestCaution() const { return Cautions ? Cautions->szName : ""; }
    // A fresh snapshot compared with the before snapshot: the test keys'
    // actions that are still left.
    Texts ChangesLeft() {
        FreeActionList();
        FreeRegistrySnapshot(&pAfter);
        return AfterAndCompare();
    }
};

// Changes at several depths under every root become actions with their
// category, node and description, in report order; carried out, they put
// the registry back byte for byte, whatever the size of values, names (up to
// the registry's 255 characters a key, in any script) and paths; a link key
// that setup added goes without its target, one below a changed key stays a
// link.
TEST_F(RegistryRestoreTest, ChangesUnderEveryRootBecomeDescribedActionsThatPutTheRegistryBack) {
    const std::string added = "Added" + std::string(250, 'a');
    std::string longPath;
    for (int i = 0; i < 5; ++i)
        longPath += "\\" + std::string(120, static_cast<char>('k' + i));
    DWORD dwNumber = 0xCAFEF00D;
    std::string exact(8192, '\0');
    for (size_t i = 0; i < exact.size(); ++i)
        exact[i] = static_cast<char>(i * 31 + 7);
    for (const TestRoot& root : roots) {
        const std::string& p = root.path;
        SetTestString(root.hRoot, p + "\\Deleted", "", "default of deleted");
        SetTestValue(root.hRoot, p + "\\Deleted", "Exact", REG_BINARY, exact.data(), 8192);
        SetTestValue(root.hRoot, p + "\\Deleted", "Number", REG_DWORD, &dwNumber, 4);
        SetTestValue(root.hRoot, p + "\\Deleted", "Multi", REG_MULTI_SZ, "a\0bc\0", 6);
        SetTestValue(root.hRoot, p + "\\Deleted", "Expand", REG_EXPAND_SZ, "%TEMP%\\x", 10);
        SetTestValue(root.hRoot, p + "\\Deleted", "Empty", REG_BINARY, "", 0);
        SetTestString(root.hRoot, p + "\\Deleted\\Sub\\Leaf", "leaf", "1");
        SetTestString(root.hRoot, p + "\\Deleted\\100%s", "odd", "%d");
        SetTestString(root.hRoot, p + "\\Deleted\\Long" + longPath, "deep", "value");
        SetTestString(root.hRoot, p + "\\Changed", "a", "1");
        SetTestString(root.hRoot, p + "\\Changed", "b", "2");
        SetTestString(root.hRoot, p + "\\Changed\\Kept", "k", "1");
        SetTestString(root.hRoot, p + "\\Changed\\Kept\\Deep", "Заметки", "日本");
        SetTestString(root.hRoot, p + "\\Changed\\中文", "名前", "値");
        SetTestString(root.hRoot, p + "\\Stays", "s", "1");
    }
    const std::string changed = roots[2].path + "\\Changed";
    std::string large(100 * 1024, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 13 + 1);
    SetTestValue(HKEY_CURRENT_USER, changed, "Large", REG_BINARY, large.data(),
                 static_cast<DWORD>(large.size()));
    SetTestString(HKEY_CURRENT_USER, changed, std::string(600, 'v'), "long name");
    SetTestString(HKEY_CURRENT_USER, changed + "\\" + std::string(255, 's'), "inner", "1");
    CreateLinkKey(HKEY_CURRENT_USER, changed + "\\Link", kTarget);
    std::string deep = changed + "\\Deep";
    for (int i = 0; i < 18; ++i) {
        deep += "\\" + std::string(120, static_cast<char>('a' + i));
        SetTestString(HKEY_CURRENT_USER, deep, "level", std::to_string(i));
    }
    SetTestString(HKEY_LOCAL_MACHINE, kTarget, "kept", "target");
    SetTestString(HKEY_LOCAL_MACHINE, kTarget + "\\Below", "kept", "below");
    const std::vector<LiveValue> targetValues = ReadLiveValues(HKEY_LOCAL_MACHINE, kTarget);
    std::vector<std::string> before = LiveState();
    Before();
    for (const TestRoot& root : roots) {
        const std::string& p = root.path;
        RemoveTestKey(root.hRoot, p + "\\Deleted");
        SetTestString(root.hRoot, p + "\\Changed", "a", "changed");
        SetTestString(root.hRoot, p + "\\Changed", "c", "new");
        DeleteTestValue(root.hRoot, p + "\\Changed", "b");
        SetTestString(root.hRoot, p + "\\Changed\\Kept\\Deep", "Заметки", "中文");
        SetTestString(root.hRoot, p + "\\Changed\\New\\Deeper\\Deepest", "n", "1");
        SetTestString(root.hRoot, p + "\\Changed\\RunMRU", "a", "cmd");
        SetTestString(root.hRoot, p + "\\" + added + "\\One\\Two\\Three", "t", "3");
        SetTestString(root.hRoot, p + "\\" + added + "\\Long" + longPath, "deep", "value");
    }
    CreateLinkKey(HKEY_CURRENT_USER, roots[2].path + "\\" + added + "\\Link", kTarget);
    Texts texts = AfterAndCompare();

    size_t iPrevious = 0;
    for (const TestRoot& root : roots) {
        const std::string& p = root.shown;
        EXPECT_EQ(
            Containing(texts, p + "\\"),
            (Texts{"Value Changed " + p + "\\Changed",
                   "Value Changed " + p + "\\Changed\\Kept\\Deep", "Key Deleted " + p + "\\Deleted",
                   "Key Added " + p + "\\" + added, "Key Added " + p + "\\Changed\\New"}));
        // The roots follow the table order.
        auto it = std::find(texts.begin(), texts.end(), "Value Changed " + p + "\\Changed");
        ASSERT_NE(it, texts.end());
        EXPECT_GE(static_cast<size_t>(it - texts.begin()), iPrevious);
        iPrevious = static_cast<size_t>(it - texts.begin());
    }

    const std::string p = roots[2].shown;
    std::vector<DEACTION*> actions = RegistryActions(p + "\\");
    ASSERT_EQ(actions.size(), 5u);
    RTREE* pBeforeKey = NodeAt(pBefore[2].pNode, kMarker);
    RTREE* pAfterKey = NodeAt(pAfter[2].pNode, kMarker);
    const void* apExpectedNode[] = {
        NodeAt(pBeforeKey, "Changed"), NodeAt(pBeforeKey, "Changed\\Kept\\Deep"),
        NodeAt(pBeforeKey, "Deleted"), NodeAt(pAfterKey, added), NodeAt(pAfterKey, "Changed\\New")};
    const DWORD adwChange[] = {REG_VALUES_CHANGED, REG_VALUES_CHANGED, REG_KEY_DELETED,
                               REG_KEY_ADDED, REG_KEY_ADDED};
    Texts categories, described;
    for (size_t i = 0; i < actions.size(); ++i) {
        DEACTION* pact = actions[i];
        EXPECT_EQ(pact->wOrder, 6);
        EXPECT_EQ(pact->pExtra, apExpectedNode[i]);
        EXPECT_EQ(static_cast<RTREE*>(pact->pExtra)->dwChange, adwChange[i]);
        EXPECT_EQ(AcceptRegistryAction(pact), 1);
        char szText[cbRegDescribe] = "unchanged";
        EXPECT_EQ(DescribeRegistryAction(pact, szText), 1);
        categories.push_back(pact->szObject);
        described.push_back(szText);
    }
    EXPECT_EQ(categories,
              (Texts{"Value Changed", "Value Changed", "Key Deleted", "Key Added", "Key Added"}));
    EXPECT_EQ(
        described,
        (Texts{"Restore the Registry Values for Key Value Changed " + p +
                   "\\Changed, which were modified ",
               "Restore the Registry Values for Key Value Changed " + p +
                   "\\Changed\\Kept\\Deep, which were modified ",
               "Restore the Registry Key Key Deleted " + p + "\\Deleted, which was deleted ",
               "Delete the Registry Key Key Added " + p + "\\" + added + ", which was added ",
               "Delete the Registry Key Key Added " + p + "\\Changed\\New, which was added "}));
    // A node with no known change describes nothing.
    static_cast<RTREE*>(actions[0]->pExtra)->dwChange = 0;
    char szText[cbRegDescribe] = "unchanged";
    EXPECT_EQ(DescribeRegistryAction(actions[0], szText), 1);
    EXPECT_STREQ(szText, "unchanged");
    static_cast<RTREE*>(actions[0]->pExtra)->dwChange = REG_VALUES_CHANGED;

    CarryOut();
    EXPECT_EQ(ChangesLeft(), Texts{});
    EXPECT_EQ(LiveState(), before);
    for (const TestRoot& root : roots) {
        EXPECT_FALSE(TestKeyExists(root.hRoot, root.path + "\\" + added));
        EXPECT_FALSE(TestKeyExists(root.hRoot, root.path + "\\Changed\\RunMRU"));
    }
    EXPECT_EQ(ReadLiveValues(HKEY_LOCAL_MACHINE, kTarget), targetValues);
    EXPECT_TRUE(TestKeyExists(HKEY_LOCAL_MACHINE, kTarget + "\\Below"));
}

// An unknown change code shows the critical error and changes nothing; a
// key that cannot be created is reported and its siblings still follow.
TEST_F(RegistryRestoreTest, DamagedNodesAreReportedAndTheRestStillFollows) {
    const std::string base = roots[2].path;
    SetTestString(HKEY_CURRENT_USER, base + "\\Key", "v", "1");
    SetTestString(HKEY_CURRENT_USER, base + "\\Parent\\First", "v", "1");
    SetTestString(HKEY_CURRENT_USER, base + "\\Parent\\Second", "v", "2");
    Before();
    RTREE* pKey = NodeAt(pBefore[2].pNode, "Trun95TestRst\\Key");
    RTREE* pParent = NodeAt(pBefore[2].pNode, "Trun95TestRst\\Parent");
    ASSERT_TRUE(pKey && pParent);

    DEACTION action{};
    action.pExtra = pKey;
    robot.ExpectBox("**Uninstaller Error**", "Critical ERROR in Registry Module", IDOK);
    EXPECT_EQ(DoRegistryAction(&action), 1);
    EXPECT_TRUE(TestKeyExists(HKEY_CURRENT_USER, base + "\\Key"));
    action.pExtra = nullptr;
    EXPECT_EQ(DoRegistryAction(&action), 1);

    std::free(pParent->pChild->pszName);
    pParent->pChild->pszName = DupString(std::string(300, 'x').c_str());
    RemoveTestKey(HKEY_CURRENT_USER, base + "\\Parent");
    robot.ExpectBoxStartingWith(
        kTitle, "Unable to Create Registry Key.\nInternal Error in Registry line", IDOK);
    robot.ExpectBoxStartingWith(
        kTitle, "Tarnel Uninstaller has detected internal exception 5 in Registry line", IDYES);
    EXPECT_EQ(RestoreRegistryKey(pParent), ERROR_SUCCESS);
    EXPECT_EQ(ReadLiveValues(HKEY_CURRENT_USER, base + "\\Parent\\Second"),
              (std::vector<LiveValue>{{"v", REG_SZ, std::string("2\0", 2)}}));
    EXPECT_EQ(RestoreRegistryKey(nullptr), 0);
}

// An added key that is already gone is fine; a key the snapshot could not
// read stays with the keys above it, with a caution; one named beyond the
// ANSI code page goes by its exact name, shown with "?" in the list.
TEST_F(RegistryRestoreTest, AddedKeysAlreadyGoneUnreadableOrNamedInAnyScriptStillCountAsUndone) {
    const std::string base = roots[2].path;
    CreateTestKey(HKEY_CURRENT_USER, base);
    Before();
    SetTestString(HKEY_CURRENT_USER, base + "\\Gone\\Sub", "v", "1");
    SetTestString(HKEY_CURRENT_USER, base + "\\Kept", "v", "1");
    SetTestString(HKEY_CURRENT_USER, base + "\\Kept\\Other", "v", "1");
    SetTestString(HKEY_CURRENT_USER, base + "\\Kept\\Unread", "v", "1");
    SetTestString(HKEY_CURRENT_USER, base + "\\Новый\\Normal", "v", "1");
    CreateTestKey(HKEY_CURRENT_USER, base + "\\Новый\\中文");
    EXPECT_EQ(
        Containing(AfterAndCompare(), "Key Added"),
        (Texts{"Key Added " + roots[2].shown + "\\Gone", "Key Added " + roots[2].shown + "\\Kept",
               "Key Added " + roots[2].shown + "\\?????"}));
    std::vector<DEACTION*> actions = RegistryActions("Hkey_current_user");
    ASSERT_EQ(actions.size(), 3u);
    RemoveTestKey(HKEY_CURRENT_USER, base + "\\Gone");
    EXPECT_EQ(DoRegistryAction(actions[0]), 1);
    EXPECT_FALSE(TestKeyExists(HKEY_CURRENT_USER, base + "\\Gone"));

    // As a key whose reading the registry refused is recorded.
    RTREE* pUnread = NodeAt(pAfter[2].pNode, std::string(kMarker) + "\\Kept\\Unread");
    ASSERT_NE(pUnread, nullptr);
    pUnread->fUnreadable = TRUE;
    FreeNameList(&Cautions);
    EXPECT_EQ(DoRegistryAction(actions[1]), 1);
    EXPECT_EQ(ReadLiveValues(HKEY_CURRENT_USER, base + "\\Kept\\Unread"),
              (std::vector<LiveValue>{{"v", REG_SZ, std::string("1\0", 2)}}));
    EXPECT_FALSE(TestKeyExists(HKEY_CURRENT_USER, base + "\\Kept\\Other"));
    EXPECT_EQ(ReadLiveValues(HKEY_CURRENT_USER, base + "\\Kept"), std::vector<LiveValue>{});
    EXPECT_EQ(NewestCaution(), "Registry key " + roots[2].shown +
                                   "\\Kept\\Unread could not be read and was left in place.");

    FreeNameList(&Cautions);
    EXPECT_EQ(DoRegistryAction(actions[2]), 1);
    EXPECT_FALSE(TestKeyExists(HKEY_CURRENT_USER, base + "\\Новый"));
    EXPECT_EQ(NewestCaution(), "");

    // Through the ANSI calls, as on the Windows 95 family, a name they cannot
    // carry is never acted on: that key stays, named in a caution.
    fRegistryAnsiCallsForTests = true;
    FreeActionList();
    FreeRegistrySnapshot(&pBefore);
    FreeRegistrySnapshot(&pAfter);
    Before();
    SetTestString(HKEY_CURRENT_USER, base + "\\Stuck\\Normal", "v", "1");
    CreateTestKey(HKEY_CURRENT_USER, base + "\\Stuck\\中文");
    AfterAndCompare();
    actions = RegistryActions(roots[2].shown + "\\Stuck");
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(DoRegistryAction(actions[0]), 1);
    EXPECT_FALSE(TestKeyExists(HKEY_CURRENT_USER, base + "\\Stuck\\Normal"));
    EXPECT_TRUE(TestKeyExists(HKEY_CURRENT_USER, base + "\\Stuck\\中文"));
    EXPECT_EQ(NewestCaution(), "Registry key " + roots[2].shown +
                                   "\\Stuck\\?? could not be read and was left in place.");
}

// A key the before snapshot could not read is never deleted, nor is what
// lies below it reported as added: it stays as it is, named in a caution.
TEST_F(RegistryRestoreTest, KeyUnreadBeforeSetupStaysWholeWithACaution) {
    const std::string key = roots[2].path + "\\Unread";
    SetTestString(HKEY_CURRENT_USER, key + "\\Sub", "v", "1");
    Before();
    // As the reader records a key whose reading the registry refused.
    RTREE* pUnread = NodeAt(pBefore[2].pNode, std::string(kMarker) + "\\Unread");
    ASSERT_NE(pUnread, nullptr);
    pUnread->pChild = FreeRegistryNode(pUnread->pChild, 1);
    pUnread->fUnreadable = TRUE;
    SetTestString(HKEY_CURRENT_USER, key, "v", "added");
    EXPECT_EQ(AfterAndCompare(), Texts{"Value Changed " + roots[2].shown + "\\Unread"});
    FreeNameList(&Cautions);
    CarryOut();
    EXPECT_EQ(ReadLiveValues(HKEY_CURRENT_USER, key),
              (std::vector<LiveValue>{{"v", REG_SZ, std::string("added\0", 6)}}));
    EXPECT_TRUE(TestKeyExists(HKEY_CURRENT_USER, key + "\\Sub"));
    EXPECT_EQ(NewestCaution(), "Registry key " + roots[2].shown + "\\Unread could not be read " +
                                   "before setup and was left as it is.");
}

class ExplorerUnloadTest : public HostedTest {
  protected:
    static constexpr char kKey[] =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AlwaysUnloadDLL";
    void SetUp() override {
        HostedTest::SetUp();
        LoadRegistryStrings();
        RemoveTestKey(HKEY_LOCAL_MACHINE, kKey);
    }
    void TearDown() override {
        SetExplorerUnload(0);
        HostedTest::TearDown();
    }
    SavedKey saved{HKEY_LOCAL_MACHINE, kKey};
};

TEST_F(ExplorerUnloadTest, MissingKeyStaysWithOneAndADefaultValueIsWrittenBackAsAString) {
    const std::vector<LiveValue> one{{"", REG_SZ, std::string("1\0", 2)}};
    EXPECT_EQ(SetExplorerUnload(1), 1);
    EXPECT_EQ(ReadLiveValues(HKEY_LOCAL_MACHINE, kKey), one);
    EXPECT_EQ(SetExplorerUnload(0), 1);
    EXPECT_EQ(ReadLiveValues(HKEY_LOCAL_MACHINE, kKey), one);
    EXPECT_EQ(SetExplorerUnload(0), 0);

    SetTestValue(HKEY_LOCAL_MACHINE, kKey, "", REG_EXPAND_SZ, "0", 2);
    EXPECT_EQ(SetExplorerUnload(1), 1);
    EXPECT_EQ(ReadLiveValues(HKEY_LOCAL_MACHINE, kKey), one);
    EXPECT_EQ(SetExplorerUnload(0), 1);
    EXPECT_EQ(ReadLiveValues(HKEY_LOCAL_MACHINE, kKey),
              (std::vector<LiveValue>{{"", REG_SZ, std::string("0\0", 2)}}));
}

} // namespace
