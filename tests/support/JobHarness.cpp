#include "tests/support/JobHarness.h"

#include <commctrl.h>

static JobHarness* current;

struct BoxSearch {
    const char* caption;
    HWND found;
};

static BOOL CALLBACK matchBox(HWND window, LPARAM parameter) {
    BoxSearch* search = (BoxSearch*)parameter;
    char className[16];
    char caption[64];
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && GetClassNameA(window, className, sizeof className) &&
        lstrcmpA(className, "#32770") == 0 && GetWindowTextA(window, caption, sizeof caption) &&
        lstrcmpA(caption, search->caption) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A message box of this process: tests running side by side each answer
// their own questions only.
static HWND findOwnBox(const char* caption) {
    BoxSearch search = {caption, nullptr};
    EnumWindows(matchBox, (LPARAM)&search);
    return search.found;
}

JobHarness::JobHarness()
    : ended(false), endParam(0), endMessages(0), ownerWindow(nullptr), controls(), original(), nextAnswer(0), answeredBox(nullptr) {
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ownerProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "CalbruneJobHarness";
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
}

JobHarness::~JobHarness() {
    current = nullptr;
    DestroyWindow(ownerWindow);
}

int JobHarness::start(Converter& c, bool withControls) {
    ended = false;
    c.setOwnerWindow(ownerWindow);
    if (!withControls) {
        return c.startJob(nullptr, nullptr, nullptr, nullptr, doneMessage);
    }
    return c.startJob(controls[FileBar], controls[TotalBar], controls[FileLabel],
                      controls[TotalLabel], doneMessage);
}

bool JobHarness::waitForEnd(Converter& c, DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!ended && GetTickCount64() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (!ended && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        answerQuestion();
    }
    if (ended) {
        // As the finish page does: the job is over once its end message is in.
        c.closeWorkerThread();
    }
    return ended;
}

void JobHarness::answerQuestion() {
    HWND box = findOwnBox("Calbrune 1.0");
    // A box already answered goes away once its thread has seen the click.
    if (!box || box == answeredBox) {
        return;
    }
    HWND pressable = GetDlgItem(box, IDYES);
    if (!pressable) {
        return;
    }
    char text[1024] = "";
    GetWindowTextA(GetDlgItem(box, 0xFFFF), text, sizeof(text));
    questions.push_back(text);
    if (beforeAnswer) {
        beforeAnswer();
    }
    int answer = nextAnswer < answers.size() ? answers[nextAnswer] : IDNO;
    nextAnswer++;
    answeredBox = box;
    PostMessageA(GetDlgItem(box, answer), BM_CLICK, 0, 0);
}

std::vector<ControlEvent> JobHarness::of(Control control, UINT message) const {
    std::vector<ControlEvent> found;
    for (const ControlEvent& e : events) {
        if (e.control == control && e.message == message) {
            found.push_back(e);
        }
    }
    return found;
}

LRESULT CALLBACK JobHarness::ownerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == doneMessage && current) {
        current->ended = true;
        current->endParam = wParam;
        current->endMessages++;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK JobHarness::controlProc(HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
    JobHarness* h = current;
    int which = 0;
    while (which < 4 && h->controls[which] != window) {
        which++;
    }
    if (message == PBM_SETPOS || message == PBM_SETRANGE || message == PBM_SETRANGE32 ||
        message == WM_SETTEXT) {
        ControlEvent e = {(Control)which, message, wParam, lParam, ""};
        if (message == WM_SETTEXT && lParam) {
            e.text = (const char*)lParam;
        }
        h->events.push_back(e);
        if (h->onEvent) {
            h->onEvent(e);
        }
    }
    return CallWindowProcA(h->original[which], window, message, wParam, lParam);
}

bool pressMessageBox(const char* caption, int button, std::string* text, DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        HWND box = findOwnBox(caption);
        HWND pressable = box ? GetDlgItem(box, button) : nullptr;
        if (pressable) {
            if (text) {
                char buffer[1024] = "";
                GetWindowTextA(GetDlgItem(box, 0xFFFF), buffer, sizeof(buffer));
                *text = buffer;
            }
            PostMessageA(pressable, BM_CLICK, 0, 0);
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(10);
    }
}
