// The action list keeps records in order-key order, sorts stably after order
// keys change, and formats descriptions safely.
#include "actions/deaction.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

int UndoNothing(DEACTION*) {
    return 1;
}

class ActionListTest : public testing::Test {
  protected:
    void TearDown() override { FreeActionList(); }

    static DEACTION* Add(WORD wOrder, const char* pszObject) {
        return AddAction(DEA_FILE, wOrder, "File \"%s\"", pszObject, nullptr, UndoNothing,
                         pszObject, nullptr);
    }
    static std::vector<std::string> Objects() {
        std::vector<std::string> objects;
        for (DEACTION* pact = pActionList; pact; pact = pact->pNext)
            objects.push_back(pact->szObject);
        return objects;
    }
};

TEST_F(ActionListTest, SortMovesChangedRecordsToTheFrontAndKeepsTheirRelativeOrder) {
    Add(4, "folder a");
    DEACTION* pGroupB = Add(4, "folder b");
    DEACTION* pGroupC = Add(4, "folder c");
    Add(5, "file");
    pGroupC->wOrder = 1;
    pGroupB->wOrder = 1;
    SortActionList();
    EXPECT_EQ(Objects(), (std::vector<std::string>{"folder b", "folder c", "folder a", "file"}));
}

TEST_F(ActionListTest, NewRecordIsClearedAndDescriptionTakesThePathAsText) {
    DEACTION* pact = Add(6, "C:\\100%s done\\x.txt");
    EXPECT_STREQ(pact->pszDescription, "File \"C:\\100%s done\\x.txt\"");
    EXPECT_EQ(pact->fSelected, 0u);
    EXPECT_EQ(pact->fDone, 0u);
    EXPECT_EQ(pact->wKind, DEA_FILE);
}

TEST_F(ActionListTest, OverlongDescriptionIsCutAndTheObjectKeptWhole) {
    std::string longPath = "C:\\" + std::string(900, 'x');
    DEACTION* pact = Add(6, longPath.c_str());
    EXPECT_EQ(std::strlen(pact->pszDescription), 623u);
    EXPECT_EQ(std::string(pact->szObject), longPath);
}

TEST_F(ActionListTest, DoneRecordsAreNothingToOffer) {
    EXPECT_EQ(AnyActionToOffer(pActionList), 0);
    DEACTION* pFirst = Add(5, "a");
    DEACTION* pSecond = Add(6, "b");
    EXPECT_EQ(AnyActionToOffer(pActionList), 1);
    pFirst->fDone = 1;
    pSecond->fDone = 1;
    EXPECT_EQ(AnyActionToOffer(pActionList), 0);
}

TEST_F(ActionListTest, OnlySelectedFolderOrFileRecordsCountAsDeletions) {
    DEACTION* pRestore = AddAction(DEA_RESTORE, 3, "Changes to \"%s\"", "C:\\WINDOWS\\WIN.INI",
                                   nullptr, UndoNothing, "C:\\WINDOWS\\WIN.INI", nullptr);
    pRestore->fSelected = 1;
    EXPECT_EQ(AnyDeletionSelected(), 0);
    Add(6, "C:\\x")->fSelected = 1;
    EXPECT_EQ(AnyDeletionSelected(), 1);
}

TEST_F(ActionListTest, InsertionAfterAKeyDroppedInPlaceStillStopsAtTheFirstGreaterKey) {
    Add(4, "folder");
    DEACTION* pIcon = Add(6, "icon");
    pIcon->wOrder = 2; // reclassified at the end of the list
    Add(3, "restore");
    Add(6, "file");
    EXPECT_EQ(Objects(), (std::vector<std::string>{"restore", "folder", "icon", "file"}));
}

TEST_F(ActionListTest, RecordsStandInKeyOrderAndInAddingOrderWithinEachKey) {
    std::vector<std::pair<WORD, std::string>> added;
    for (int i = 0; i < 3000; ++i) {
        WORD wOrder = static_cast<WORD>(i % 7 == 0 ? 3 + i % 3 : 6);
        added.emplace_back(wOrder, std::to_string(i));
        Add(wOrder, added.back().second.c_str());
    }
    std::stable_sort(added.begin(), added.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> expected;
    for (const auto& entry : added)
        expected.push_back(entry.second);
    EXPECT_EQ(Objects(), expected);
    SortActionList();
    EXPECT_EQ(Objects(), expected);
}

} // namespace
