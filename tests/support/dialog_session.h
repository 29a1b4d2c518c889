// The session state the uninstall dialog reads, set up for a test: the host
// window, the shell allocator, the Windows folders, the form chosen in
// "tarnel32.ini", and actions and cautions that are freed afterwards.
#pragma once

#include "test_host_window.h"

#include "actions/deaction.h"

#include <string>
#include <vector>

class DialogSession {
  public:
    explicit DialogSession(HostWindow& host);
    ~DialogSession();
    DialogSession(const DialogSession&) = delete;
    DialogSession& operator=(const DialogSession&) = delete;

    // "UninstallerTreeview" as text, or no INI file at all (nullptr).
    void ChooseForm(const char* pszValue);
    DEACTION* Add(WORD wKind, const std::string& description, const std::string& object,
                  PFNACTION pfnConfirm = nullptr, PFNACTION pfnUndo = nullptr);
    void AddCaution(const std::string& text);
    // The Windows folder of the prefix, with a trailing backslash.
    std::string WindowsFolder() const;

  private:
    std::string iniPath_;
};

// Undo and confirm procedures of tests, each writing what it was called with
// into a journal.
extern std::vector<std::string> journal;
int UndoSucceeds(DEACTION* pact);
int UndoFails(DEACTION* pact);
int UndoFailsOnce(DEACTION* pact);
int ConfirmYes(DEACTION* pact);
int ConfirmNo(DEACTION* pact);
int ConfirmCancel(DEACTION* pact);
