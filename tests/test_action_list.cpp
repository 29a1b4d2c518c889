// The action list keeps records in order-key order, sorts stably after order
// keys change, and formats descriptions safely.
#include "actions/deaction.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

int UndoNothing(DEACTION*) {
    return 1;
}

class ActionListTest : public testing::Test {
  protected:
    void TearDown() override { FreeActionList(); }

    static DEACTION* Add(WORD wOrder, const std::string& object, WORD wKind = DEA_FILE) {
        return AddAction(wKind, wOrder, "File \"%s\"", object.c_str(), nullptr, UndoNothing,
                         object.c_str(), nullptr);
    }
    static std::vector<std::string> Objects() {
        std::vector<std::string> objects;
        for (DEACTION* pact = pActionList; pact; pact = pact->pNext)
            objects.push_back(pact->szObject);
        return objects;
    }
};

TEST_F(ActionListTest, InsertionStopsAtTheFirstGreaterKeyEvenAfterAKeyDroppedInPlace) {
    Add(4, "folder");
    Add(6, "icon")->wOrder = 2; // reclassified at the end of the list
    for (auto [wOrder, pszObject] : {std::pair<WORD, const char*>{3, "restore 1"},
                                     {4, "folder 2"},
                                     {6, "file"},
                                     {3, "restore 2"},
                                     {4, "folder 3"}})
        Add(wOrder, pszObject);
    EXPECT_EQ(Objects(), (std::vector<std::string>{"restore 1", "restore 2", "folder", "icon",
                                                   "folder 2", "folder 3", "file"}));
    SortActionList();
    EXPECT_EQ(Objects(), (std::vector<std::string>{"icon", "restore 1", "restore 2", "folder",
                                                   "folder 2", "folder 3", "file"}));
}

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

TEST_F(ActionListTest, DescriptionTakesThePathAsTextAndIsCutWhileTheObjectStaysWhole) {
    DEACTION* pact = Add(6, "C:\\100%s done\\x.txt");
    EXPECT_STREQ(pact->pszDescription, "File \"C:\\100%s done\\x.txt\"");
    EXPECT_EQ(pact->fSelected + pact->fDone, 0u);
    std::string longPath = "C:\\" + std::string(900, 'x');
    pact = Add(6, longPath);
    EXPECT_EQ(std::strlen(pact->pszDescription), 623u);
    EXPECT_EQ(std::string(pact->szObject), longPath);
}

TEST_F(ActionListTest, DoneRecordsAreNothingToOfferAndOnlyFilesOrFoldersAreDeletions) {
    EXPECT_EQ(AnyActionToOffer(pActionList), 0);
    DEACTION* pRestore = Add(3, "C:\\WINDOWS\\WIN.INI", DEA_RESTORE);
    pRestore->fSelected = 1;
    EXPECT_EQ(AnyActionToOffer(pActionList), 1);
    EXPECT_EQ(AnyDeletionSelected(), 0);
    DEACTION* pFile = Add(6, "C:\\x");
    EXPECT_EQ(AnyDeletionSelected(), 0);
    pFile->fSelected = 1;
    EXPECT_EQ(AnyDeletionSelected(), 1);
    pRestore->fDone = pFile->fDone = 1;
    EXPECT_EQ(AnyActionToOffer(pActionList), 0);
}

} // namespace
