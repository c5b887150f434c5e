// Converts WAV files of one folder through the program's wizard from outside, as a user would,
// printing what it sees (in Windows-1252):
//   calbrune_drive PROGRAM DESTINATION|- [OPTION...] WAV...
// DESTINATION is chosen in the folder browser ("-": beside the WAV files). OPTIONs:
//   --return       answer the end message and quit through Cancel (else the program closes itself)
//   --tour         first a look at the CD page, then Back
//   --shots        "shot PAGE WxH+X+Y" where the sheet is, once a page and for the end message,
//                  then a pause for a screenshot
//   --vbr METHOD   VBR on, with the method of that row (0 Default ... 4 ABR)
//   --cancel-at N  Annuler once the overall bar shows N of 1024
//   --timed        "elapsed WHAT SECONDS" at the wizard, Finish, the end message and the end, the
//                  program's peak memory; jobs of up to an hour
// Exits 0 when the program ended with exit code 0, else 1 after "calbrune_drive: " and what did not
// happen: every wait is bounded on the clock. Controls are found by ID, whatever Wine's language.
#include "tests/support/Driving.h"

#include <psapi.h>
#include <stdio.h>

using namespace wizard;

namespace {

enum Page { Welcome, Files, Tracks, Destination, Options, Finish, Message };
const char* const names[] = {"bienvenue", "fichiers", "pistes", "destination", "options", "terminer", "message"};

PROCESS_INFORMATION child;
HWND sheet;
int shot[7];
bool shots, timed;
ULONGLONG started = GetTickCount64();

void say(const std::string& line) { printf("%s\n", line.c_str()), fflush(stdout); }
void mark(const char* what) { timed ? printf("elapsed %s %.3f\n", what, (GetTickCount64() - started) / 1000.0) : 0; }

[[noreturn]] void fail(const std::string& what) { say("calbrune_drive: " + what), TerminateProcess(child.hProcess, 99), exit(1); }

bool programEnded() { return WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0; }

// Fails naming `what` when `ready` gives nothing in time, far more than a busy machine takes.
template <typename F>
auto waitFor(const std::string& what, F ready, DWORD ms = 20000) {
    auto result = poll(ready, ms, programEnded);
    result ? (void)0 : fail((programEnded() ? "the program ended while waiting for " : "timed out waiting for ") + what);
    return result;
}

HWND dialogOf(HWND owner, int control = 0) { return findDialog(child.dwProcessId, owner, control); }

void click(HWND button) {
    waitFor(textOf(button) + " to be usable", [&] { return IsWindowVisible(button) && IsWindowEnabled(button); });
    PostMessageA(button, BM_CLICK, 0, 0);
}

// With --shots, once a page: where the sheet and `box` are, for the demo to photograph meanwhile.
void shoot(Page page, HWND box = nullptr) {
    if (shots && !shot[page]++) {
        Sleep(300);  // let the page paint
        RECT area, more;
        GetWindowRect(sheet, &area);
        box && GetWindowRect(box, &more) ? UnionRect(&area, &area, &more) : 0;
        printf("shot %s %ldx%ld+%ld+%ld\n", names[page], area.right - area.left, area.bottom - area.top, area.left, area.top);
        fflush(stdout), Sleep(700);
    }
}

HWND onPage(Page page) {
    HWND shown = waitFor(std::string("page ") + names[page], [&] { return pageIndex(sheet) == page ? currentPage(sheet) : nullptr; });
    return say(std::string("page ") + names[page]), shown;
}

// Shoots the page after what was done there, then presses `button`.
void leave(Page page, int button) { shoot(page), click(GetDlgItem(sheet, button)); }

// Answers OK, or Oui to a question.
void answerBox(HWND box) {
    say("message: " + textOf(GetDlgItem(box, messageText))), shoot(Message, box);
    answer(box, GetDlgItem(box, IDOK) ? IDOK : IDYES);
}

// Forty at a time, as a user would pick them in the dialog.
void addFiles(HWND page, const std::vector<std::string>& paths) {
    std::string folder = paths[0].substr(0, paths[0].find_last_of('\\'));
    for (size_t first = 0; first < paths.size(); first += 40) {
        std::string quoted;
        for (size_t i = first; i < paths.size() && i < first + 40; i++) {
            quoted += "\"" + paths[i].substr(folder.size() + 1) + "\" ";
        }
        click(GetDlgItem(page, 1011));
        HWND dialog = waitFor("the open-file dialog", [] { return dialogOf(sheet); });
        fillOpenDialog(dialog, {folder, quoted});
        if (HWND error = dialogOf(dialog)) {
            fail("the open-file dialog says: " + textOf(GetDlgItem(error, messageText)));
        }
        LRESULT count = (LRESULT)std::min(paths.size(), first + 40);
        waitFor("the files in the list", [&] { return ask(GetDlgItem(page, 1010), LB_GETCOUNT) == count; });
    }
}

void chooseDestination(HWND page, const std::string& folder) {
    HWND shown = GetDlgItem(page, 1030);
    if (folder != "-") {
        ask(GetDlgItem(page, 1032), BM_GETCHECK) ? click(GetDlgItem(page, 1032)) : (void)0;
        click(GetDlgItem(page, 1031));
        HWND browser = waitFor("the folder browser", [] { return dialogOf(sheet); });
        browseTo(child.hProcess, browser, folder);
        click(GetDlgItem(browser, IDOK));
        waitFor("the destination " + folder, [&] { return !IsWindow(browser) && !_stricmp(textOf(shown).c_str(), folder.c_str()); });
    }
    // The folder is greyed while the MP3 files go beside the WAV files.
    say("destination: " + textOf(shown) + (IsWindowEnabled(shown) ? "" : " (beside each WAV file)"));
}

// Questions answered and the cancel made as the job runs; then its end message, still open.
HWND watchJob(HWND page, long cancelAt) {
    return waitFor("the end message", [&]() -> HWND {
        if (HWND box = dialogOf(sheet, messageText)) {
            return GetDlgItem(box, IDYES) ? (answerBox(box), nullptr) : box;
        }
        if (cancelAt >= 0 && ask(GetDlgItem(page, 1065), PBM_GETPOS) >= cancelAt) {
            cancelAt = -1;
            click(GetDlgItem(sheet, finishButton));
            say("cancel");
        }
        return nullptr;
    }, timed ? 3600 * 1000 : 120000);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc), wavs;
    auto has = [&](const char* option) { return std::find(args.begin(), args.end(), option) != args.end(); };
    auto number = [&](const char* option) { auto at = std::find(args.begin(), args.end(), option); return at < args.end() - 1 ? atol(at[1].c_str()) : -1; };
    bool returning = has("--return"), tour = has("--tour");
    long vbr = number("--vbr"), cancelAt = number("--cancel-at");
    timed = has("--timed"), shots = has("--shots");
    for (size_t i = 3; i < args.size(); i++) {
        args[i].compare(0, 2, "--") && args[i - 1] != "--vbr" && args[i - 1] != "--cancel-at" ? wavs.push_back(args[i]) : (void)0;
    }
    if (argc < 4 || wavs.empty()) {
        return fputs("usage: see the top of tests/tools/WizardDriver.cpp\n", stderr), 2;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    CreateProcessA(argv[1], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child) ? 0
        : (fail(std::string("cannot start ") + argv[1] + ", error " + std::to_string(GetLastError())), 0);
    sheet = waitFor("the wizard", [] { return dialogOf(nullptr, nextButton); }, 60000);
    mark("wizard");
    HWND page = onPage(Welcome);
    if (tour) {
        click(GetDlgItem(page, 1003));
        leave(Welcome, nextButton);
        onPage(Tracks), Sleep(500);  // the disc's tracks listed
        leave(Tracks, backButton);
        page = onPage(Welcome);
    }
    click(GetDlgItem(page, 1002));
    leave(Welcome, nextButton);
    addFiles(onPage(Files), wavs);
    leave(Files, nextButton);
    chooseDestination(onPage(Destination), args[2]);
    leave(Destination, nextButton);
    page = onPage(Options);
    if (vbr >= 0) {
        click(GetDlgItem(page, 1050));
        waitFor("the VBR methods", [&] { return IsWindowEnabled(GetDlgItem(page, 1051)); });
        ask(GetDlgItem(page, 1051), CB_SETCURSEL, vbr);
        PostMessageA(page, WM_COMMAND, MAKEWPARAM(1051, CBN_SELCHANGE), (LPARAM)GetDlgItem(page, 1051));
    }
    leave(Options, nextButton);
    page = onPage(Finish);
    click(GetDlgItem(page, returning ? 1061 : 1060));
    leave(Finish, finishButton);
    mark("finish");
    // Returning, the end message is answered, and Cancel quits.
    if (returning) {
        HWND box = watchJob(page, cancelAt);
        mark("done");
        PROCESS_MEMORY_COUNTERS memory = {};
        timed && GetProcessMemoryInfo(child.hProcess, &memory, memory.cb = sizeof(memory))
            ? printf("peak_working_set %llu\npeak_private %llu\n", (unsigned long long)memory.PeakWorkingSetSize,
                     (unsigned long long)memory.PeakPagefileUsage) : 0;
        answerBox(box);
        click(GetDlgItem(sheet, IDCANCEL));
    }
    waitFor("the program to end", [&] {
        HWND box = dialogOf(sheet, messageText);
        return box ? answerBox(box), false : programEnded();
    }, timed ? 3600 * 1000 : 120000);
    mark("ended");
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    code ? fail("the program ended with exit code " + std::to_string(code)) : say("program ended, exit code 0");
}
