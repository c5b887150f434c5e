#include "tests/support/WizardRun.h"

#include <commctrl.h>

#include <atomic>

#include "app/Wizard.h"
#include "core/Converter.h"
#include "res/resource.h"

using namespace wizard;

// A crash on any thread ends the test program at once, failed, not waiting for a debugger.
static LONG WINAPI endTheRun(EXCEPTION_POINTERS*) { ExitProcess(3); }
static LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = SetUnhandledExceptionFilter(endTheRun);

static const UINT syncMessage = WM_APP + 0x3A7;
static std::atomic<LONG> syncsHandled;
static WNDPROC sheetProcBelow;
static WizardRun* recording;
static const int finishControls[] = {IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS, IDC_FILE_CAPTION, IDC_TOTAL_CAPTION};
static HWND controlsSeen[4];
static WNDPROC controlProcsBelow[4];

// Above the sheet's own procedure: counts the test's flushing messages.
static LRESULT CALLBACK syncProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return message == syncMessage ? syncsHandled++ : CallWindowProcA(sheetProcBelow, window, message, wParam, lParam);
}

// Above the finish page's bars and captions.
static LRESULT CALLBACK controlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    int which = (int)(std::find(controlsSeen, controlsSeen + 4, window) - controlsSeen);
    if (recording && (message == PBM_SETPOS || message == PBM_SETRANGE32 || message == WM_SETTEXT)) {
        ControlEvent e = {(Control)which, message, wParam, lParam, message == WM_SETTEXT ? (const char*)lParam : ""};
        recording->events.push_back(e);
        recording->onEvent ? recording->onEvent(e) : (void)0;
    }
    return CallWindowProcA(controlProcsBelow[which], window, message, wParam, lParam);
}

static DWORD WINAPI wizardThread(LPVOID c) { return runWizard(GetModuleHandleA(nullptr), (Converter*)c), 0; }

WizardRun::WizardRun(Converter& converter) : c(converter) {
    thread = CreateThread(nullptr, 0, wizardThread, &c, 0, nullptr);
    sheet = poll([] { return findDialog(GetCurrentProcessId(), nullptr, nextButton); }, 10000);
    sheetProcBelow = (WNDPROC)SetWindowLongPtrA(sheet, GWLP_WNDPROC, (LONG_PTR)syncProc);
    settle();
}

WizardRun::~WizardRun() {
    if (IsWindow(sheet)) {
        PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0);
        answerBox(IDYES);
    }
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    recording = nullptr;
}

// A few rounds: a handled message may post more (a page change posts the buttons).
void WizardRun::settle() {
    for (int round = 0; round < 3 && IsWindow(sheet); round++) {
        LONG target = syncsHandled + 1;
        PostMessageA(sheet, syncMessage, 0, 0);
        for (int waited = 0; syncsHandled < target && IsWindow(sheet) && waited < 5000; waited++) {
            Sleep(1);
        }
    }
}

std::string WizardRun::answerBox(int button, DWORD ms) {
    HWND box = poll([&] { return findDialog(GetCurrentProcessId(), sheet, messageText); }, ms);
    std::string said = box ? answer(box, button) : "";
    return settle(), said;
}

bool WizardRun::runJob(DWORD ms) {
    show(IDD_FINISH);
    for (int i = 0; i < 4; i++) {
        HWND control = GetDlgItem(currentPage(sheet), finishControls[i]);
        if (controlsSeen[i] != control) {
            controlsSeen[i] = control;
            controlProcsBelow[i] = (WNDPROC)SetWindowLongPtrA(control, GWLP_WNDPROC, (LONG_PTR)controlProc);
        }
    }
    events.clear();
    boxes.clear();
    recording = this;
    press(PSBTN_FINISH);
    auto answered = [&] {
        HWND box = findDialog(GetCurrentProcessId(), sheet, messageText);
        box ? boxes.push_back(answer(box, GetDlgItem(box, IDYES) ? IDNO : IDOK)) : (void)0;
        return box != nullptr;
    };
    // The job has ended once the page has closed the worker's handle, said how
    // it ended (a box may take a while to show) and put Finish back, or closed the wizard.
    bool ended = poll([&] {
        return !answered() && !c.workerExists() && (!IsWindow(sheet) || textOf(button(finishButton)) == "Terminer");
    }, ms);
    settle();
    return ended;
}
