#include "tests/support/WizardRun.h"

#include <commctrl.h>
#include <prsht.h>

#include <atomic>

#include "app/Wizard.h"

static const UINT syncMessage = WM_APP + 0x3A7;
static std::atomic<LONG> syncsHandled;
static WNDPROC sheetProcBelow;

struct Search {
    bool (*match)(HWND, void*);
    void* context;
    HWND found;
};

static BOOL CALLBACK searchWindow(HWND window, LPARAM parameter) {
    Search* s = (Search*)parameter;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
        s->match(window, s->context)) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// Waits (bounded) for a visible top-level window of this process that
// `match` accepts.
static HWND waitWindow(bool (*match)(HWND, void*), void* context, DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        Search search = {match, context, nullptr};
        EnumWindows(searchWindow, (LPARAM)&search);
        if (search.found || GetTickCount64() >= deadline) {
            return search.found;
        }
        Sleep(10);
    }
}

static bool isDialog(HWND window) {
    char name[16] = "";
    GetClassNameA(window, name, sizeof(name));
    return lstrcmpA(name, "#32770") == 0;
}

LRESULT CALLBACK WizardRun::syncProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == syncMessage) {
        syncsHandled++;
        return 0;
    }
    return CallWindowProcA(sheetProcBelow, window, message, wParam, lParam);
}

DWORD WINAPI WizardRun::wizardThread(LPVOID parameter) {
    runWizard(GetModuleHandleA(nullptr), (Converter*)parameter);
    return 0;
}

WizardRun::WizardRun(Converter& converter) : c(converter), thread(nullptr), sheet_(nullptr) {
    thread = CreateThread(nullptr, 0, wizardThread, &c, 0, &threadId);
    sheet_ = waitWindow([](HWND w, void*) { return isDialog(w) && GetDlgItem(w, 0x3024) != nullptr; },
                        nullptr, 10000);
    if (sheet_) {
        // Above the program's own sheet procedure: answers the test's
        // flushing messages, passes everything else on.
        sheetProcBelow = (WNDPROC)SetWindowLongPtrA(sheet_, GWLP_WNDPROC, (LONG_PTR)syncProc);
        settle();
    }
}

WizardRun::~WizardRun() {
    if (sheet_ && IsWindow(sheet_)) {
        PostMessageA(sheet_, WM_COMMAND, IDCANCEL, 0);
        answerBox(IDYES);
    }
    if (thread) {
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
    }
}

bool WizardRun::ended(DWORD timeoutMs) {
    return WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
}

void WizardRun::settle() {
    // A handled message may post more (a page change posts the buttons), so
    // a few rounds.
    for (int round = 0; round < 3 && IsWindow(sheet_); round++) {
        LONG target = syncsHandled + 1;
        PostMessageA(sheet_, syncMessage, 0, 0);
        ULONGLONG deadline = GetTickCount64() + 5000;
        while (syncsHandled < target && IsWindow(sheet_) && GetTickCount64() < deadline) {
            Sleep(1);
        }
    }
}

int WizardRun::page() {
    LRESULT index = SendMessageA(sheet_, PSM_HWNDTOINDEX,
                                 (WPARAM)SendMessageA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0), 0);
    return (int)SendMessageA(sheet_, PSM_INDEXTOID, index, 0);
}

HWND WizardRun::control(int id) {
    return GetDlgItem((HWND)SendMessageA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0), id);
}

std::string WizardRun::text(HWND window) {
    int length = GetWindowTextLengthA(window);
    std::string buffer(length + 1, '\0');
    GetWindowTextA(window, &buffer[0], length + 1);
    buffer.resize(lstrlenA(buffer.c_str()));
    return buffer;
}

void WizardRun::post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PostMessageA(window, message, wParam, lParam);
    settle();
}

void WizardRun::press(int sheetButton) {
    post(sheet_, PSM_PRESSBUTTON, sheetButton, 0);
}

void WizardRun::click(int id) {
    post(control(id), BM_CLICK, 0, 0);
}

void WizardRun::notify(int id, int code) {
    HWND window = control(id);
    post(GetParent(window), WM_COMMAND, MAKEWPARAM(id, code), (LPARAM)window);
}

void WizardRun::show(int pageId) {
    SendMessageA(sheet_, PSM_SETCURSELID, 0, pageId);
    settle();
}

static bool isMessageBox(HWND window, void* sheet) {
    return window != (HWND)sheet && isDialog(window) && GetDlgItem(window, 0xFFFF);
}

std::string WizardRun::answerBox(int button, DWORD timeoutMs) {
    HWND box = waitWindow(isMessageBox, sheet_, timeoutMs);
    if (!box) {
        return "";
    }
    std::string said = text(GetDlgItem(box, 0xFFFF));
    PostMessageA(GetDlgItem(box, button), BM_CLICK, 0, 0);
    // Gone once its thread has seen the click.
    for (int i = 0; i < 500 && IsWindow(box); i++) {
        Sleep(5);
    }
    settle();
    return said;
}

bool WizardRun::noBox() {
    settle();
    return waitWindow(isMessageBox, sheet_, 0) == nullptr;
}

HWND WizardRun::waitDialog(const char* caption, int childId, DWORD timeoutMs) {
    struct Wanted {
        HWND sheet;
        const char* caption;
        int childId;
    } wanted = {sheet_, caption, childId};
    auto match = [](HWND w, void* p) {
        Wanted* x = (Wanted*)p;
        char title[256] = "";
        GetWindowTextA(w, title, sizeof(title));
        return w != x->sheet && isDialog(w) &&
               (x->caption ? lstrcmpA(title, x->caption) == 0 : GetDlgItem(w, x->childId) != nullptr);
    };
    return waitWindow(match, &wanted, timeoutMs);
}

std::vector<std::pair<int, std::string>> tooltipTexts(HWND page) {
    // The tooltip window is owned by the sheet; its tools name the page.
    std::vector<std::pair<int, std::string>> found;
    HWND tooltip = nullptr;
    while ((tooltip = FindWindowExA(nullptr, tooltip, TOOLTIPS_CLASSA, nullptr))) {
        int count = (int)SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0);
        for (int i = 0; i < count; i++) {
            char text[512] = "";
            TOOLINFOA tool = {};
            tool.cbSize = TTTOOLINFOA_V2_SIZE;
            tool.lpszText = text;
            SendMessageA(tooltip, TTM_ENUMTOOLSA, i, (LPARAM)&tool);
            if (tool.hwnd == page) {
                found.push_back({GetDlgCtrlID((HWND)tool.uId), text});
            }
        }
    }
    return found;
}
