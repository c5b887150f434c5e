// Runs a conversion job with the lame_enc.dll found beside this program, into
// an output folder, and prints what a benchmark or an end-to-end test needs:
// the report, the job's time, the progress pairs sent and what one pair costs
// here, and the peak memory.
//
//   calbrune_wavejob [--visible] [--vbr METHOD] [--cancel-after-steps K | --cancel-at-entry E]
//                    [--delete-at-entry E FILE] [--lock-at-entry E FILE] OUTPUT_FOLDER FILE.wav...
//   calbrune_cdjob [options] OUTPUT_FOLDER DRIVE_LETTER TRACK...
// The second reads the simulated CD machine set up from CALBRUNE_SIMCD;
// tracks are numbered from 1. A cancel lowers the running flag as the finish
// page does: after K progress pairs, or when entry E (from 1) starts. When
// entry E starts, FILE can also be deleted, or opened with no sharing and
// held to the end. METHOD is a row of the VBR method table.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "jobs/JobFrame.h"
#include "tests/support/JobHarness.h"

namespace {

const int costPairs = 200;

// Pairs as the worker sends them: from another thread, to bars that move.
DWORD WINAPI sendPairs(LPVOID bars) {
    for (int i = 0; i < costPairs; i++) {
        SendMessageA(((HWND*)bars)[0], PBM_SETPOS, (WPARAM)(i * 37 % 1000), 0);
        SendMessageA(((HWND*)bars)[1], PBM_SETPOS, (WPARAM)(i * 53 % 1024), 0);
    }
    return 0;
}

double now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return (double)count.QuadPart / (double)frequency.QuadPart;
}

}  // namespace

int main(int argc, char** argv) {
    bool visible = false;
    long vbrMethod = -1, cancelSteps = 0, cancelEntry = 0, deleteEntry = 0, lockEntry = 0;
    const char *deletePath = nullptr, *lockPath = nullptr;
    int first = 1;
    for (; first < argc && strncmp(argv[first], "--", 2) == 0; first++) {
        const char* o = argv[first];
        long* number = !strcmp(o, "--vbr") ? &vbrMethod : !strcmp(o, "--cancel-after-steps") ? &cancelSteps
                     : !strcmp(o, "--cancel-at-entry") ? &cancelEntry : !strcmp(o, "--delete-at-entry") ? &deleteEntry
                     : !strcmp(o, "--lock-at-entry") ? &lockEntry : nullptr;
        visible = visible || !strcmp(o, "--visible");
        if (number && first + 1 < argc) {
            *number = atol(argv[++first]);
        }
        if ((number == &deleteEntry || number == &lockEntry) && first + 1 < argc) {
            (number == &deleteEntry ? deletePath : lockPath) = argv[++first];
        }
    }
#ifdef CALBRUNE_CD_JOB
    const int least = 3;  // the folder, the drive and a track
#else
    const int least = 2;
#endif
    if (argc - first < least || !converter.loadEncoder()) {
        fprintf(stderr, argc - first < least ? "usage: see the top of JobDriver.cpp\n" : "lame_enc.dll cannot be loaded\n");
        return 2;
    }
    if (vbrMethod >= 0) {
        converter.setVbrEnabled(1);
        converter.setVbrMethodIndex((int)vbrMethod);
    }
    converter.setSaveBesideSource(0);
    converter.setReplaceWithoutAsking(1);
    converter.setDestinationFolder(argv[first]);
#ifdef CALBRUNE_CD_JOB
    char device[8];
    wsprintfA(device, "\\\\.\\%c:", argv[first + 1][0]);
    converter.setCdDevicePath(device);
    converter.setSourceKind(1);
    for (int i = first + 2; i < argc; i++) {
        int track = atoi(argv[i]) - 1;
        converter.selectedTracks.append(&track);
    }
#else
    for (int i = first + 1; i < argc; i++) {
        converter.sourceFiles.append(argv[i]);
    }
#endif

    JobHarness h;
    long steps = 0, entries = 0;
    HANDLE lock = INVALID_HANDLE_VALUE;
    h.onEvent = [&](const ControlEvent& e) {
        bool cancel = false;
        if (e.control == TotalBar && e.message == PBM_SETPOS) {
            cancel = ++steps == cancelSteps;
        } else if (e.control == TotalLabel && e.message == WM_SETTEXT) {
            cancel = ++entries == cancelEntry;
            if (entries == deleteEntry) {
                printf("deleted %d\n", DeleteFileA(deletePath) ? 1 : 0);
            }
            if (entries == lockEntry) {
                lock = CreateFileA(lockPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                printf("locked %d\n", lock != INVALID_HANDLE_VALUE ? 1 : 0);
            }
        }
        if (cancel) {
            printf("cancel_requested\n");
            converter.setJobRunning(0);
        }
    };
    if (visible) {
        ShowWindow(h.owner(), SW_SHOW);
    }
    double start = now();
    if (!h.start(converter) || !h.waitForEnd(converter, 3600 * 1000)) {
        fprintf(stderr, "the job did not run to its end\n");
        return 2;
    }
    double seconds = now() - start;

    const JobReport& report = lastJobReport();
    printf("end %u\nconverted %u\n", (unsigned)h.endParam, report.convertedCount());
    for (const FailedEntry* e = report.first(); e; e = e->next) {
        char line[MAX_PATH + 200];
        describeFailure(e, line, sizeof(line));
        printf("failed %s\n", line);
    }
    printf("seconds %.4f\nprogress_pairs %u\n", seconds, (unsigned)h.of(TotalBar, PBM_SETPOS).size());

    HWND bars[] = {h.control(FileBar), h.control(TotalBar)};
    SendMessageA(bars[0], PBM_SETRANGE32, 0, 1000);
    start = now();
    HANDLE thread = CreateThread(nullptr, 0, sendPairs, bars, 0, nullptr);
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
    }
    CloseHandle(thread);
    printf("pair_seconds %.7f\n", (now() - start) / costPairs);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    printf("peak_working_set %llu\npeak_pagefile %llu\n", (unsigned long long)memory.PeakWorkingSetSize,
           (unsigned long long)memory.PeakPagefileUsage);
    converter.unloadEncoder();
    if (lock != INVALID_HANDLE_VALUE) {
        CloseHandle(lock);
    }
    return report.failureCount() ? 1 : 0;
}
