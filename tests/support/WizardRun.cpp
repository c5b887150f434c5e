#include "tests/support/WizardRun.h"

#include <atomic>

#include "app/Wizard.h"
#include "core/Converter.h"
#include "res/resource.h"

using namespace wizard;

static const UINT syncMessage = WM_APP + 0x3A7;
static std::atomic<LONG> syncsHandled;
static WNDPROC sheetProcBelow;

// Above the program's own sheet procedure: counts the test's flushing
// messages, passes everything else on.
static LRESULT CALLBACK syncProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == syncMessage) {
        syncsHandled++;
        return 0;
    }
    return CallWindowProcA(sheetProcBelow, window, message, wParam, lParam);
}

static DWORD WINAPI wizardThread(LPVOID c) {
    runWizard(GetModuleHandleA(nullptr), (Converter*)c);
    return 0;
}

WizardRun::WizardRun(Converter& c) {
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
}

void WizardRun::settle() {
    // A handled message may post more (a page change posts the buttons), so
    // a few rounds.
    for (int round = 0; round < 3 && IsWindow(sheet); round++) {
        LONG target = syncsHandled + 1;
        PostMessageA(sheet, syncMessage, 0, 0);
        for (int waited = 0; syncsHandled < target && IsWindow(sheet) && waited < 5000; waited++) {
            Sleep(1);
        }
    }
}

int WizardRun::page() { return IDD_WELCOME + pageIndex(sheet); }

void WizardRun::post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PostMessageA(window, message, wParam, lParam);
    settle();
}

void WizardRun::show(int pageId) {
    ask(sheet, PSM_SETCURSELID, 0, pageId);
    settle();
}

std::string WizardRun::answerBox(int button, DWORD ms) {
    HWND box = poll([&] { return findDialog(GetCurrentProcessId(), sheet, messageText); }, ms);
    std::string said = box ? answer(box, button) : "";
    settle();
    return said;
}
