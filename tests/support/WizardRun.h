// Runs the real wizard on a thread of its own, as the program runs it, and
// drives it from the test's thread the way a user would: buttons, clicks,
// the common dialogs and the message boxes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/Converter.h"

class WizardRun {
public:
    explicit WizardRun(Converter& c);
    // Quits through Cancel and Yes when the wizard is still open.
    ~WizardRun();
    WizardRun(const WizardRun&) = delete;
    WizardRun& operator=(const WizardRun&) = delete;

    HWND sheet() const { return sheet_; }
    // Waits (bounded) for the wizard to end by itself.
    bool ended(DWORD timeoutMs = 10000);

    // Dialog ID of the page shown.
    int page();
    HWND control(int id);
    HWND button(int sheetButtonId) { return GetDlgItem(sheet_, sheetButtonId); }
    std::string text(HWND window);
    std::string text(int id) { return text(control(id)); }

    // Every message posted so far, and what handling them posted, handled.
    void settle();
    void post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // PSBTN_BACK, PSBTN_NEXT, PSBTN_FINISH...
    void press(int sheetButton);
    void click(int id);
    // As a user's action on the page: the control's notification to its page.
    void notify(int id, int code);
    void show(int pageId);

    // The next message box of the process (not the sheet): its text, and
    // `button` pressed; "" when none came.
    std::string answerBox(int button, DWORD timeoutMs = 5000);
    // True when no message box is open.
    bool noBox();
    // A dialog of the process with this caption, or holding `childId`.
    HWND waitDialog(const char* caption, int childId, DWORD timeoutMs = 5000);

private:
    static DWORD WINAPI wizardThread(LPVOID parameter);
    static LRESULT CALLBACK syncProc(HWND, UINT, WPARAM, LPARAM);

    Converter& c;
    HANDLE thread;
    DWORD threadId;
    HWND sheet_;
};

// The tooltip texts of a page, by control ID; a tooltip gives out at most
// the first 80 characters of a text.
std::vector<std::pair<int, std::string>> tooltipTexts(HWND page);
