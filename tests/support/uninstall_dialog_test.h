// A fixture for tests of the uninstall dialog: the session state it reads, a
// script that drives it, and a run of it that ends with Cancel answered Yes.
#pragma once

#include "dialog_script.h"
#include "dialog_session.h"
#include "hosted_test.h"

#include "dialog/dedlg.h"
#include "session/exports.h"

#include <functional>
#include <string>
#include <tuple>
#include <vector>

inline constexpr char kCancelQuestion[] =
    "Do you want to cancel the Uninstall?  If you choose Yes you will not be able to use Tarnel "
    "to uninstall this program.";

class UninstallDialogTest : public HostedTest {
  protected:
    void TearDown() override {
        script.Join();
        HostedTest::TearDown();
    }
    // Runs the dialog: the steps, answering the boxes they bring up in turn
    // (caption, text, answer), then Cancel answered Yes.
    void RunThenCancel(std::function<void(HWND)> steps,
                       const std::vector<std::tuple<std::string, std::string, int>>& boxes = {}) {
        script.Expect("Uninstall", [steps](HWND hDlg) {
            Settle(hDlg);
            steps(hDlg);
            PressButton(hDlg, IDCANCEL);
        });
        for (const auto& [caption, text, idAnswer] : boxes)
            robot.ExpectBox(caption, text, idAnswer);
        robot.ExpectBox("Uninstall", kCancelQuestion, IDYES);
        EXPECT_EQ(show_deinstall_dialog(host.hwnd()), 1);
        script.Join();
    }

    DialogScript script{robot};
    DialogSession session{host};
};
