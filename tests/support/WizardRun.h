// Driving the wizard as a user does. The helpers of `wizard` work on its
// windows from the test program and from another process alike
// (calbrune_drive uses them alone); WizardRun runs the real wizard on a
// thread of the test program.
#pragma once

#include <windows.h>
#include <prsht.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace wizard {

const int backButton = 0x3023, nextButton = 0x3024, finishButton = 0x3025, messageText = 0xFFFF;

// Asks `ready` every 10 ms until it gives something, `over` says so or `ms`
// pass on the clock (a busy program makes each asking slow); its last answer.
template <typename F>
auto poll(F ready, DWORD ms, bool (*over)() = nullptr) {
    for (ULONGLONG end = GetTickCount64() + ms;; Sleep(10)) {
        bool ending = over && over();  // first, so that `ready` sees the last state
        auto result = ready();
        if (result || ending || GetTickCount64() >= end) {
            return result;
        }
    }
}

// Bounded in time: a hung wizard fails the run instead of holding it up.
inline LRESULT ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
    return (LRESULT)result;
}

inline std::string textOf(HWND window) {
    std::string text(8192, '\0');
    text.resize(ask(window, WM_GETTEXT, text.size(), (LPARAM)&text[0]));
    return text;
}

// A visible dialog of `process` owned by `owner` (the sheet has none),
// holding `control` unless that is 0.
inline HWND findDialog(DWORD process, HWND owner, int control = 0) {
    for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, "#32770", nullptr));) {
        DWORD of = 0;
        GetWindowThreadProcessId(window, &of);
        if (of == process && IsWindowVisible(window) && GetWindow(window, GW_OWNER) == owner &&
            (!control || GetDlgItem(window, control))) {
            return window;
        }
    }
    return nullptr;
}

inline HWND currentPage(HWND sheet) { return (HWND)ask(sheet, PSM_GETCURRENTPAGEHWND); }
// Counted from 0 in the sheet's order.
inline int pageIndex(HWND sheet) { return (int)ask(sheet, PSM_HWNDTOINDEX, (WPARAM)currentPage(sheet)); }

// The text of a message box, once `button` has closed it.
inline std::string answer(HWND box, int button) {
    std::string said = textOf(GetDlgItem(box, messageText));
    PostMessageA(GetDlgItem(box, button), BM_CLICK, 0, 0);
    poll([&] { return !IsWindow(box); }, 10000);
    return said;
}

// As a user fills it: a folder first (the dialog moves there and stays),
// then the quoted names.
inline void fillOpenDialog(HWND dialog, const std::vector<std::string>& entries) {
    for (const std::string& entry : entries) {
        ask(GetDlgItem(dialog, 0x47C), WM_SETTEXT, 0, (LPARAM)entry.c_str());
        ask(GetDlgItem(dialog, IDOK), BM_CLICK);
    }
}

// The folder browser takes the path as a string of its own process, which
// is left there: a busy browser may read it after we stop waiting.
inline void browseTo(HANDLE process, HWND browser, const std::string& folder) {
    void* path = VirtualAllocEx(process, nullptr, folder.size() + 1, MEM_COMMIT, PAGE_READWRITE);
    WriteProcessMemory(process, path, folder.c_str(), folder.size() + 1, nullptr);
    ask(browser, BFFM_SETSELECTIONA, TRUE, (LPARAM)path);
}

// The tracks (from 0) of a list of the CD page; those of `select` selected
// as clicks select them.
inline std::vector<int> tracksIn(HWND list, const std::vector<int>& select = {}) {
    std::vector<int> tracks;
    for (int i = 0; i < (int)ask(list, LB_GETCOUNT); i++) {
        tracks.push_back((int)ask(list, LB_GETITEMDATA, i));
        std::count(select.begin(), select.end(), tracks.back()) ? ask(list, LB_SETSEL, TRUE, i) : 0;
    }
    select.empty() ? 0 : PostMessageA(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE), (LPARAM)list);
    return tracks;
}

}  // namespace wizard

class Converter;

// What the finish page's bars and captions were sent during a job: PBM_SETPOS,
// PBM_SETRANGE32 or WM_SETTEXT.
enum Control { FileBar, TotalBar, FileLabel, TotalLabel };
struct ControlEvent { Control control; UINT message; WPARAM wParam; LPARAM lParam; std::string text; };

class WizardRun {
public:
    explicit WizardRun(Converter& c);
    // Quits through Cancel and Yes when the wizard is still open.
    ~WizardRun();
    bool ended(DWORD ms = 10000) { return WaitForSingleObject(thread, ms) == WAIT_OBJECT_0; }
    int page() { return 100 + wizard::pageIndex(sheet); }
    HWND control(int id) { return GetDlgItem(wizard::currentPage(sheet), id); }
    HWND button(int id) { return GetDlgItem(sheet, id); }
    std::string text(int id) { return wizard::textOf(id >= wizard::backButton ? button(id) : control(id)); }
    bool enabled(int id) { return IsWindowEnabled(id >= wizard::backButton ? button(id) : control(id)); }
    bool shown(int id) { return IsWindowVisible(button(id)); }
    // Every message posted so far, and what handling them posted, handled.
    void settle();
    void post(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        PostMessageA(window, message, wParam, lParam), settle();
    }
    // PSBTN_BACK, PSBTN_NEXT, PSBTN_FINISH, or a control of the page to click.
    void press(int what) { what < 1000 ? post(sheet, PSM_PRESSBUTTON, what) : post(control(what), BM_CLICK); }
    // A control's notification to its page, as a user's action sends it.
    void notify(int id, int code) { post(wizard::currentPage(sheet), WM_COMMAND, MAKEWPARAM(id, code), (LPARAM)control(id)); }
    void show(int pageId) { wizard::ask(sheet, PSM_SETCURSELID, 0, pageId), settle(); }
    // The text of the next message box, after pressing `button`; "" when none came.
    std::string answerBox(int button, DWORD ms = 10000);
    bool noBox() { return settle(), !wizard::findDialog(GetCurrentProcessId(), sheet, wizard::messageText); }
    // The dialog over the page: file chooser, folder browser.
    HWND dialog() { return wizard::poll([&] { return wizard::findDialog(GetCurrentProcessId(), sheet); }, 10000); }

    // Finish on the finish page, then every box answered (questions with
    // No) until the job's end has been shown. `boxes` holds what they said,
    // `events` what the bars and captions were sent meanwhile, and `onEvent`
    // sees each event on the interface thread as it comes. False when the
    // job did not end in time.
    bool runJob(DWORD ms = 30000);
    // A caption's texts, or the positions a bar was sent, in order.
    template <typename T>
    std::vector<T> sent(Control control, UINT message, T ControlEvent::*field) const {
        std::vector<T> found;
        for (const ControlEvent& e : events) {
            e.control == control && e.message == message ? found.push_back(e.*field) : (void)0;
        }
        return found;
    }
    std::vector<std::string> texts(Control control) const { return sent(control, WM_SETTEXT, &ControlEvent::text); }
    std::vector<WPARAM> positions(Control control) const { return sent(control, PBM_SETPOS, &ControlEvent::wParam); }
    std::vector<std::string> boxes;
    std::string lastBox() const { return boxes.empty() ? "" : boxes.back(); }
    std::vector<ControlEvent> events;
    std::function<void(const ControlEvent&)> onEvent;

    HWND sheet;

private:
    Converter& c;
    HANDLE thread;
};
