#include "jobs/JobFrame.h"

#include <commctrl.h>
#include <shlwapi.h>

// Apart from the first and last step of an entry, a pair of progress
// messages waits until at least 25 ms have passed since the last pair, and
// at least 40 times what that pair cost: where a moving bar repaints slowly
// (2 ms a pair under Wine) the bars then take under 3 % of the job's time.
// The cost includes waiting for a busy interface thread, so the pause is
// capped: one stall must not freeze the bars for the rest of the entry.
static const double minimumInterval = 0.025;
static const double maximumInterval = 0.25;
static const double costFactor = 40.0;

static double seconds() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

JobReport& lastJobReport() {
    static JobReport report;
    return report;
}

JobFrame::JobFrame(Converter* converter)
    : c(converter), n(0), i(0), entryShift(0), nextPairTime(0) {
    lastJobReport().clear();
}

void JobFrame::send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window) {
        SendMessageA(window, message, wParam, lParam);
    }
}

void JobFrame::begin(unsigned entryCount) {
    n = entryCount;
    i = 0;
    lastJobReport().setEntryCount(entryCount);
}

void JobFrame::resetEntryBar() {
    send(c->fileProgressBar(), PBM_SETPOS, 0, 0);
}

void JobFrame::showCounter() {
    if (!c->totalProgressLabel()) {
        return;
    }
    char text[64];
    wsprintfA(text, "Progression générale ...( %i/%i )", (int)i + 1, (int)n);
    SetWindowTextA(c->totalProgressLabel(), text);
}

void JobFrame::showOutputPath(const char* path) {
    if (c->fileProgressLabel()) {
        SetWindowTextA(c->fileProgressLabel(), path);
    }
}

void JobFrame::setEntryRange(DWORD maximum) {
    entryShift = maximum > 0x7FFFFFFF ? 1 : 0;
    send(c->fileProgressBar(), PBM_SETRANGE32, 0, (LPARAM)(maximum >> entryShift));
}

void JobFrame::stepDone(DWORD entryPosition, float fraction, bool firstStep, bool lastStep) {
    double now = seconds();
    if (!firstStep && !lastStep && now < nextPairTime) {
        return;
    }
    float entries = (float)n;
    float overall = ((float)i + fraction) * 1024.0f / entries;
    send(c->fileProgressBar(), PBM_SETPOS, (WPARAM)(entryPosition >> entryShift), 0);
    send(c->totalProgressBar(), PBM_SETPOS, (WPARAM)overall, 0);
    double pause = (seconds() - now) * costFactor;
    if (pause < minimumInterval) {
        pause = minimumInterval;
    } else if (pause > maximumInterval) {
        pause = maximumInterval;
    }
    nextPairTime = now + pause;
}

void JobFrame::setEntryPosition(DWORD position) {
    send(c->fileProgressBar(), PBM_SETPOS, (WPARAM)(position >> entryShift), 0);
}

int JobFrame::mayWrite(const char* outputPath) {
    if (c->replaceWithoutAsking() || !PathFileExistsA(outputPath)) {
        return 1;
    }
    char question[MAX_PATH + 64];
    wsprintfA(question, "%s existe déjà.\nVoulez-vous le remplacer?", outputPath);
    return MessageBoxA(c->ownerWindow(), question, programCaption, MB_YESNO | MB_ICONINFORMATION) ==
           IDYES;
}

void JobFrame::fail(const char* name, EntryFailure failure, DWORD detail) {
    lastJobReport().add(name, failure, detail);
}

void JobFrame::converted() {
    lastJobReport().addConverted();
}

void JobFrame::declined() {
    lastJobReport().addDeclined();
}

void JobFrame::end() {
    // Lowering the flag does not yet let a new job start and clear the
    // report: startJob waits until this message has been received.
    WPARAM outcome = lastJobReport().failureCount() ? JobCompletedWithFailures : JobCompleted;
    if (c->jobRunning()) {
        c->setJobRunning(0);
    } else {
        outcome = JobCancelled;
    }
    PostMessageA(c->ownerWindow(), c->jobDoneMessage(), outcome, 0);
}

int openPendingOutput(PendingOutput* output, const char* finalPath) {
    output->file = INVALID_HANDLE_VALUE;
    lstrcpynA(output->finalPath, finalPath, MAX_PATH);
    // The temporary file lies beside the output, so that the final move is a
    // rename on the same volume, and its name is no longer than the output's:
    // whatever path fits, fits both. CREATE_NEW never takes a file over.
    lstrcpyA(output->tempPath, output->finalPath);
    char* extension = PathFindExtensionA(output->tempPath);
    int room = (int)(output->tempPath + MAX_PATH - 1 - extension);
    for (int attempt = 0; attempt < 10 && room >= 4; attempt++) {
        wsprintfA(extension, attempt ? ".~c%i" : ".~cb", attempt);
        output->file = CreateFileA(output->tempPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        if (output->file != INVALID_HANDLE_VALUE) {
            return 1;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    output->tempPath[0] = '\0';
    return 0;
}

int closePendingOutput(PendingOutput* output) {
    if (output->file != INVALID_HANDLE_VALUE) {
        CloseHandle(output->file);
        output->file = INVALID_HANDLE_VALUE;
    }
    return output->tempPath[0] != '\0';
}

BOOL(WINAPI* flushOutput)(HANDLE) = FlushFileBuffers;

// A flush reaches whatever was written to the file, through any handle.
static int flushByName(const char* path, DWORD* error) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || !flushOutput(file)) {
        *error = GetLastError();
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
        return 0;
    }
    CloseHandle(file);
    return 1;
}

int commitPendingOutput(PendingOutput* output, EntryFailure* failure, DWORD* error) {
    *failure = FailOutputCreate;
    *error = 0;
    if (!output->tempPath[0]) {
        closePendingOutput(output);
        return 0;
    }
    // Data still in the cache could be lost after the rename has already
    // replaced the earlier file.
    int flushed = output->file != INVALID_HANDLE_VALUE ? flushOutput(output->file)
                                                       : flushByName(output->tempPath, error);
    if (!flushed) {
        *failure = FailWriteError;
        if (!*error) {
            *error = GetLastError();
        }
        discardPendingOutput(output);
        return 0;
    }
    closePendingOutput(output);
    if (!MoveFileExA(output->tempPath, output->finalPath,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = GetLastError();
        discardPendingOutput(output);
        return 0;
    }
    output->tempPath[0] = '\0';
    return 1;
}

void discardPendingOutput(PendingOutput* output) {
    if (output->file != INVALID_HANDLE_VALUE) {
        CloseHandle(output->file);
        output->file = INVALID_HANDLE_VALUE;
    }
    if (output->tempPath[0]) {
        DeleteFileA(output->tempPath);
        output->tempPath[0] = '\0';
    }
}
