#include "tests/support/JobHarness.h"

#include "tests/support/WizardRun.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>

static JobHarness* current;

JobHarness::JobHarness()
    : ended(false), endParam(0), controls(), original(), answeredBox(nullptr) {
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
    WNDCLASSA windowClass = {0, ownerProc, 0, 0, GetModuleHandleA(nullptr), nullptr, nullptr, nullptr, nullptr,
                             "CalbruneJobHarness"};
    RegisterClassA(&windowClass);
    ownerWindow = CreateWindowA("CalbruneJobHarness", "Calbrune test", WS_OVERLAPPEDWINDOW, 0, 0,
                                400, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    const char* classes[4] = {PROGRESS_CLASSA, PROGRESS_CLASSA, "STATIC", "STATIC"};
    for (int i = 0; i < 4; i++) {
        controls[i] = CreateWindowA(classes[i], "", WS_CHILD | WS_VISIBLE, 0, 40 * i, 300, 20,
                                    ownerWindow, nullptr, GetModuleHandleA(nullptr), nullptr);
        original[i] = (WNDPROC)SetWindowLongPtrA(controls[i], GWLP_WNDPROC,
                                                 (LONG_PTR)controlProc);
    }
    current = this;
    // A thread timer: the modal loop of a box that startJob shows runs it too.
    timer = SetTimer(nullptr, 0, 10, lookForBoxes);
}

JobHarness::~JobHarness() {
    KillTimer(nullptr, timer);
    current = nullptr;
    DestroyWindow(ownerWindow);
}

int JobHarness::start(Converter& c) {
    ended = false;
    c.setOwnerWindow(ownerWindow);
    return c.startJob(controls[FileBar], controls[TotalBar], controls[FileLabel],
                      controls[TotalLabel], doneMessage);
}

bool JobHarness::waitForEnd(Converter& c, DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!ended && GetTickCount64() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (!ended && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
    }
    if (ended) {
        c.closeWorkerThread();
    }
    return ended;
}

// The program's boxes are owned by our window, and answered once shown; one
// already answered goes away once its thread has seen the click.
void CALLBACK JobHarness::lookForBoxes(HWND, UINT, UINT_PTR, DWORD) {
    JobHarness* h = current;
    HWND box = h ? wizard::findDialog(GetCurrentProcessId(), h->ownerWindow, wizard::messageText)
                 : nullptr;
    if (!box || box == h->answeredBox) {
        return;
    }
    size_t k = h->questions.size();
    h->questions.push_back(wizard::textOf(GetDlgItem(box, wizard::messageText)));
    int answer = !GetDlgItem(box, IDYES) ? IDOK : k < h->answers.size() ? h->answers[k] : IDNO;
    h->answeredBox = box;
    PostMessageA(GetDlgItem(box, answer), BM_CLICK, 0, 0);
}

std::vector<ControlEvent> JobHarness::of(Control control, UINT message) const {
    std::vector<ControlEvent> found;
    std::copy_if(events.begin(), events.end(), std::back_inserter(found),
                 [&](const ControlEvent& e) { return e.control == control && e.message == message; });
    return found;
}

LRESULT CALLBACK JobHarness::ownerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == doneMessage && current) {
        current->ended = true;
        current->endParam = wParam;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK JobHarness::controlProc(HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
    JobHarness* h = current;
    int which = (int)(std::find(h->controls, h->controls + 4, window) - h->controls);
    if (message == PBM_SETPOS || message == PBM_SETRANGE32 || message == WM_SETTEXT) {
        ControlEvent e = {(Control)which, message, wParam, lParam,
                          message == WM_SETTEXT ? (const char*)lParam : ""};
        h->events.push_back(e);
        if (h->onEvent) {
            h->onEvent(e);
        }
    }
    return CallWindowProcA(h->original[which], window, message, wParam, lParam);
}
