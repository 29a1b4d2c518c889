// The host program's transcript of the boxes and dialogs it answered.
#include "host/transcript.h"
#include "support/prefix_files.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HostTranscript, LinesAreEscapedAndWrittenInOrderAndTheFileIsRewrittenEachRun) {
    EXPECT_EQ(
        TranscriptLine("Tarnel Uninstaller", "Could not uninstall item: x\r\nContinue?", "Yes"),
        "Tarnel Uninstaller\tCould not uninstall item: x\\r\\nContinue?\tYes\n");
    // A path keeps its backslashes, and a tab stays inside its field.
    EXPECT_EQ(TranscriptLine("Save As", "C:\\new\\notes.txt\tx", "Save"),
              "Save As\tC:\\\\new\\\\notes.txt\\tx\tSave\n");
    std::string path = TempFile("trun95-transcript.txt");
    {
        Transcript transcript;
        ASSERT_TRUE(transcript.Open(path));
        transcript.Write("old", "", "");
    }
    Transcript transcript;
    ASSERT_TRUE(transcript.Open(path));
    transcript.Write("A", "one\ntwo", "OK");
    transcript.Write("B", "", "Yes");
    EXPECT_EQ(ReadTextFile(path), "A\tone\\ntwo\tOK\nB\t\tYes\n");
    EXPECT_FALSE(Transcript().Open("C:\\no such folder\\t.txt"));
}

} // namespace
