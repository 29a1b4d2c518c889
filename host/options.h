// The host's command line:
//   tarnel32 [SETUP.EXE [ARGS...]]
//   tarnel32 --unattended=POLICY [--report=FILE] [--transcript=FILE] [--items=FILE]
//            [--footprint-items=FILE] [--quiet] [--timeout=SECONDS] SETUP.EXE [ARGS...]
//   tarnel32 [...] --install-log=LOGS [--name=NAME] SETUP.EXE [ARGS...]
//   tarnel32 [...] --uninstall-log=FOLDER
#pragma once

#include <string>

enum class Policy {
    Interactive,     // a person answers the dialogs
    All,             // decline the setup's own uninstaller, uninstall everything
    OwnThenContinue, // run the setup's own uninstaller, then uninstall what it left
    OwnThenStop,     // run the setup's own uninstaller and end the session
    Cancel,          // decline the own uninstaller and cancel the selection
    ReportOnly,      // decline the own uninstaller, save the report, undo nothing
    OwnThenReport,   // run the own uninstaller, then save the report of what is left
};

// What the unattended user does with setup's own windows while it runs.
enum class SetupPolicy {
    Wait,   // leaves them alone: setup runs silently or not at all
    Answer, // the default button of its boxes, and drives its wizard pages
};

// Whether the unattended user says Yes to the program's own uninstaller.
bool AcceptsOwnUninstaller(Policy policy);
// Whether the unattended user leaves the selection with Cancel, undoing nothing.
bool UndoesNothing(Policy policy);

constexpr unsigned kDefaultTimeoutSeconds = 1800;
// A week: far beyond any setup, and well inside the millisecond tick count.
constexpr unsigned kMaxTimeoutSeconds = 7 * 24 * 3600;

struct HostOptions {
    Policy policy = Policy::Interactive;
    std::string reportPath;     // empty: no report
    std::string transcriptPath; // empty: no transcript
    std::string itemsPath;      // empty: no item list (needs the tools library)
    std::string footprintPath;  // empty: no list of what setup made (the same)
    std::string installLogs;    // setup's session is saved as a log below this folder
    std::string logName;        // the name of that log; empty: the program's own
    std::string uninstallLog;   // the folder of the log to uninstall, instead of a setup
    bool fQuiet = false;        // no progress lines
    SetupPolicy setupPolicy = SetupPolicy::Wait;
    bool fSetupPolicyGiven = false;
    // The longest an unattended run may take, from start to end.
    unsigned timeoutSeconds = kDefaultTimeoutSeconds;
    bool fTimeoutGiven = false;
    std::string setupProgram;     // empty: the standalone session
    std::string setupCommandLine; // the program, quoted, and its arguments as given
};

// Splits the command line (without the host's own name). Returns false and
// a message for the user when it is not understood.
bool ParseHostCommandLine(const char* pszArgs, HostOptions& options, std::string& error);

// The usage text printed with a command-line error.
const char* HostUsage();

// The part of a full process command line after the program's own name.
const char* SkipProgramName(const char* pszCommandLine);
