// Parsing the host's command line into its options, with the reason for each
// mistake.
#include "host/options.h"

#include <cstring>
#include <string>

namespace {

constexpr char kUnattended[] = "--unattended=";
constexpr char kReport[] = "--report=";
constexpr char kTranscript[] = "--transcript=";
constexpr char kTimeout[] = "--timeout=";
constexpr char kItems[] = "--items=";
constexpr char kFootprintItems[] = "--footprint-items=";
constexpr char kQuiet[] = "--quiet";
constexpr char kSetup[] = "--setup=";
constexpr char kInstallLog[] = "--install-log=";
constexpr char kName[] = "--name=";
constexpr char kUninstallLog[] = "--uninstall-log=";

bool IsBlank(char ch) {
    return ch == ' ' || ch == '\t';
}

const char* SkipBlanks(const char* psz) {
    while (IsBlank(*psz))
        ++psz;
    return psz;
}

// Reads one argument as the Windows runtime does for the simple cases that
// matter here: double quotes group blanks and are dropped.
const char* ReadToken(const char* psz, std::string& token) {
    token.clear();
    bool fQuoted = false;
    for (; *psz && (fQuoted || !IsBlank(*psz)); ++psz) {
        if (*psz == '"')
            fQuoted = !fQuoted;
        else
            token += *psz;
    }
    return psz;
}

bool StartsWith(const std::string& text, const char* pszPrefix) {
    return text.compare(0, std::strlen(pszPrefix), pszPrefix) == 0;
}

bool ParsePolicy(const std::string& name, Policy& policy) {
    if (name == "all")
        policy = Policy::All;
    else if (name == "own-then-continue")
        policy = Policy::OwnThenContinue;
    else if (name == "own-then-stop")
        policy = Policy::OwnThenStop;
    else if (name == "cancel")
        policy = Policy::Cancel;
    else if (name == "report-only")
        policy = Policy::ReportOnly;
    else if (name == "own-then-report")
        policy = Policy::OwnThenReport;
    else
        return false;
    return true;
}

bool ParseTimeout(const std::string& text, unsigned& seconds) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    seconds = static_cast<unsigned>(std::stoul(text));
    return seconds >= 1 && seconds <= kMaxTimeoutSeconds;
}

// Takes one "--name=value" option; false with a message when it is wrong.
bool TakeOption(const std::string& token, HostOptions& options, std::string& error) {
    if (StartsWith(token, kTimeout)) {
        options.fTimeoutGiven = true;
        if (ParseTimeout(token.substr(sizeof kTimeout - 1), options.timeoutSeconds))
            return true;
        error = "bad number of seconds in " + token + " (use a whole number from 1 to " +
                std::to_string(kMaxTimeoutSeconds) + ")";
        return false;
    }
    if (StartsWith(token, kUnattended)) {
        if (ParsePolicy(token.substr(sizeof kUnattended - 1), options.policy))
            return true;
        error = "unknown policy in " + token +
                " (use all, own-then-continue, own-then-stop, cancel, report-only or "
                "own-then-report)";
        return false;
    }
    if (StartsWith(token, kSetup)) {
        std::string name = token.substr(sizeof kSetup - 1);
        options.fSetupPolicyGiven = true;
        options.setupPolicy = name == "answer" ? SetupPolicy::Answer : SetupPolicy::Wait;
        if (name == "answer" || name == "wait")
            return true;
        error = "unknown setup policy in " + token + " (use answer or wait)";
        return false;
    }
    if (token == kQuiet) {
        options.fQuiet = true;
        return true;
    }
    std::string* pTarget = StartsWith(token, kReport)           ? &options.reportPath
                           : StartsWith(token, kTranscript)     ? &options.transcriptPath
                           : StartsWith(token, kItems)          ? &options.itemsPath
                           : StartsWith(token, kFootprintItems) ? &options.footprintPath
                           : StartsWith(token, kInstallLog)     ? &options.installLogs
                           : StartsWith(token, kName)           ? &options.logName
                           : StartsWith(token, kUninstallLog)   ? &options.uninstallLog
                                                                : nullptr;
    if (!pTarget) {
        error = "unknown option " + token;
        return false;
    }
    *pTarget = token.substr(token.find('=') + 1);
    if (pTarget->empty()) {
        error = "missing file name in " + token;
        return false;
    }
    return true;
}

bool CheckCombination(const HostOptions& options, std::string& error) {
    bool fUnattended = options.policy != Policy::Interactive;
    if (!fUnattended && (!options.reportPath.empty() || !options.transcriptPath.empty() ||
                         !options.itemsPath.empty() || !options.footprintPath.empty() ||
                         options.fQuiet || options.fTimeoutGiven || options.fSetupPolicyGiven)) {
        error = "--report, --transcript, --items, --footprint-items, --quiet, --timeout and "
                "--setup need --unattended";
        return false;
    }
    if (!options.uninstallLog.empty()) {
        if (!options.setupProgram.empty() || !options.installLogs.empty() ||
            !options.itemsPath.empty() || !options.footprintPath.empty()) {
            error = "--uninstall-log takes no setup program, --install-log, --items or "
                    "--footprint-items";
            return false;
        }
        return true;
    }
    if (fUnattended && options.setupProgram.empty()) {
        error = "--unattended needs a setup program";
        return false;
    }
    if (!options.logName.empty() && options.installLogs.empty()) {
        error = "--name needs --install-log";
        return false;
    }
    if (!options.installLogs.empty() && options.setupProgram.empty()) {
        error = "--install-log needs a setup program";
        return false;
    }
    return true;
}

} // namespace

bool AcceptsOwnUninstaller(Policy policy) {
    return policy == Policy::OwnThenContinue || policy == Policy::OwnThenStop ||
           policy == Policy::OwnThenReport;
}

bool UndoesNothing(Policy policy) {
    return policy == Policy::Cancel || policy == Policy::ReportOnly ||
           policy == Policy::OwnThenReport;
}

bool ParseHostCommandLine(const char* pszArgs, HostOptions& options, std::string& error) {
    options = HostOptions{};
    const char* psz = SkipBlanks(pszArgs ? pszArgs : "");
    std::string token;
    while (*psz) {
        const char* pszNext = ReadToken(psz, token);
        if (!StartsWith(token, "--")) {
            options.setupProgram = token;
            // The program's own arguments are handed on exactly as typed.
            options.setupCommandLine = "\"" + token + "\"" + std::string(pszNext);
            break;
        }
        if (!TakeOption(token, options, error))
            return false;
        psz = SkipBlanks(pszNext);
    }
    if (options.setupProgram.empty() && *psz) {
        error = "empty setup program name";
        return false;
    }
    return CheckCombination(options, error);
}

const char* HostUsage() {
    return "usage: tarnel32 [SETUP.EXE [ARGS...]]\n"
           "       tarnel32 --unattended=all|own-then-continue|own-then-stop|cancel|\n"
           "                             report-only|own-then-report\n"
           "                [--report=FILE] [--transcript=FILE] [--items=FILE]\n"
           "                [--footprint-items=FILE] [--quiet] [--timeout=SECONDS]\n"
           "                [--setup=answer|wait] SETUP.EXE [ARGS...]\n"
           "       tarnel32 [...] --install-log=LOGS [--name=NAME] SETUP.EXE [ARGS...]\n"
           "       tarnel32 [...] --uninstall-log=FOLDER\n"
           "       (an unattended run that takes longer than SECONDS, default 1800, is\n"
           "       abandoned with exit status 5; --setup=answer answers setup's own boxes\n"
           "       and wizard pages, --setup=wait, the default, leaves them alone)\n";
}

const char* SkipProgramName(const char* pszCommandLine) {
    std::string ignored;
    return SkipBlanks(ReadToken(SkipBlanks(pszCommandLine ? pszCommandLine : ""), ignored));
}
