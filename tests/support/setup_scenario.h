// The fake setup program's scenario: the machine it expects before setup, a
// run of it inside the prefix, and the file side of a session around it.
#pragma once

#include "file_session.h"
#include "prefix_files.h"

#include <string>
#include <utility>
#include <vector>

// What one run leaves to offer.
struct Outcome {
    std::vector<ActionView> actions;
    std::vector<std::string> cautions;
};

class SetupScenarioTest : public FileSessionTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The machine as setup expects it: the INI files as they were and the
    // three files setup deletes, renames or alters.
    void PrepareMachine();
    // Every file setup made, and the INI files as they were.
    void RestoreMachine();

    // Runs the setup helper; returns the changes it made, one line each.
    std::vector<std::string> RunSetup(const ScratchFolder& logFolder);
    // The steps after setup, in the session's order.
    Outcome CompareAfterSetup();
    // The file side of a session: before setup, setup itself with its
    // changes fed to the recorder, and the steps after setup.
    Outcome RunHandFed();

    std::string windows, system, programs, startMenu, desktop;
    std::vector<std::pair<std::string, std::string>> savedIni;
};
