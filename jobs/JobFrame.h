// The frame that both conversion jobs share: the running flag, the messages
// that drive the finish page's bars and captions, and the end message.
#pragma once

#include <windows.h>

#include "core/Converter.h"
#include "jobs/JobReport.h"

DWORD WINAPI WaveConversionJob(LPVOID parameter);
DWORD WINAPI CdConversionJob(LPVOID parameter);

// The report of the last job; valid once its end message has arrived, and
// kept until the next job starts, which startJob allows only after that.
JobReport& lastJobReport();

class JobFrame {
public:
    // Clears the report, which no other job can be using: startJob creates no
    // worker while an earlier one's end message is still to be received. The
    // running flag is not touched: startJob raises it before the worker
    // exists, so that a cancel made before the worker's first act is not lost
    // (a test that starts a job procedure by itself raises the flag first).
    explicit JobFrame(Converter* converter);

    Converter* converter() const { return c; }
    int running() const { return c->jobRunning(); }

    // Takes N once, before the list walk.
    void begin(unsigned entryCount);
    // Advances i, whatever the outcome of the entry.
    void nextEntry() { i++; }

    // Messages 4 and 5: entry bar to 0, "Progression générale ...( i+1/N )".
    void resetEntryBar();
    void showCounter();
    // Message 6.
    void showOutputPath(const char* path);
    // Message 7. A bar's range is a signed 32-bit number, so a range past
    // 2 GiB (the data of a large WAV file) is halved, and so is every
    // position on it.
    void setEntryRange(DWORD maximum);
    // Messages 8 and 9 after a successful step. To keep the bars from
    // slowing the conversion, the pair is sent only for the first and last
    // step of an entry (or phase), or once enough time has passed since the
    // last pair (at least 25 ms).
    void stepDone(DWORD entryPosition, float fraction, bool firstStep, bool lastStep);
    // Message 10.
    void setEntryPosition(DWORD position);

    // The overwrite question; 1 to go on (or no question needed), 0 on No.
    int mayWrite(const char* outputPath);

    void fail(const char* name, EntryFailure failure, DWORD detail = 0);
    void converted();
    void declined();

    // The end message: cancelled, completed, or completed with failures.
    void end();

private:
    void send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    Converter* c;
    unsigned n;
    unsigned i;
    int entryShift;       // the entry bar shows positions shifted right by this
    double nextPairTime;  // seconds
};

// Output through a temporary file in the output's folder, so that an
// existing file is replaced only by a complete one.
struct PendingOutput {
    char finalPath[MAX_PATH];
    char tempPath[MAX_PATH];
    HANDLE file;
};

// Every flush of an output goes through here; the tests put a failing disk
// in its place.
extern BOOL(WINAPI* flushOutput)(HANDLE);

// Creates the temporary file beside finalPath; 0 when it cannot be made.
int openPendingOutput(PendingOutput* output, const char* finalPath);
// Closes the temporary file, so that it can be opened by name; 0 when there
// is none.
int closePendingOutput(PendingOutput* output);
// Flushes and closes the temporary file (or flushes it by name once closed)
// and moves it over the final path. On failure the temporary file is deleted
// and 0 returned, with FailWriteError (the flush) or FailOutputCreate (the
// move) and the system's error code.
int commitPendingOutput(PendingOutput* output, EntryFailure* failure, DWORD* error);
// Closes and deletes the temporary file; the final path is left untouched.
void discardPendingOutput(PendingOutput* output);
