// Runs a conversion job with the lame_enc.dll found beside this program,
// into an output folder, and prints what a benchmark or an end-to-end test
// needs: the report, the job's time, the progress messages sent and what one
// pair of them costs here, and the peak memory.
//
//   calbrune_wavejob [--visible] [--cancel-after-steps K | --cancel-at-entry E]
//                    [--delete-at-entry E FILE] [--lock-at-entry E FILE]
//                    OUTPUT_FOLDER FILE.wav...
//   calbrune_cdjob [--visible] OUTPUT_FOLDER DRIVE_LETTER TRACK...
// The second is built with the simulated CD machine, set up from the
// CALBRUNE_SIMCD variable; tracks are numbered from 1. A cancel is made as
// the finish page makes it, by lowering the running flag: after K pairs of
// progress messages, or when entry E (from 1) starts. When entry E starts,
// FILE can also be deleted, or opened with no sharing and held to the end.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "jobs/JobFrame.h"
#include "tests/support/JobHarness.h"

namespace {

struct PairCost {
    HWND fileBar;
    HWND totalBar;
    int pairs;
    double seconds;
};

// One pair as the worker sends it: from another thread, to bars that move.
DWORD WINAPI sendPairs(LPVOID parameter) {
    PairCost* cost = (PairCost*)parameter;
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < cost->pairs; i++) {
        SendMessageA(cost->fileBar, PBM_SETPOS, (WPARAM)(i * 37 % 1000), 0);
        SendMessageA(cost->totalBar, PBM_SETPOS, (WPARAM)(i * 53 % 1024), 0);
    }
    QueryPerformanceCounter(&end);
    cost->seconds = (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
    return 0;
}

double measurePairCost(JobHarness& h) {
    PairCost cost = {h.control(FileBar), h.control(TotalBar), 200, 0};
    SendMessageA(cost.fileBar, PBM_SETRANGE32, 0, 1000);
    HANDLE thread = CreateThread(nullptr, 0, sendPairs, &cost, 0, nullptr);
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
    }
    CloseHandle(thread);
    return cost.seconds / cost.pairs;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    bool visible = false;
    if (argc > 1 && strcmp(argv[1], "--visible") == 0) {
        visible = true;
        first++;
    }
    // "--vbr METHOD": variable bitrate with that row of the method table.
    int vbrMethod = -1;
    if (argc - first > 1 && strcmp(argv[first], "--vbr") == 0) {
        vbrMethod = atoi(argv[first + 1]);
        first += 2;
    }
    long cancelSteps = 0, cancelEntry = 0;
    if (argc - first > 1 && strcmp(argv[first], "--cancel-after-steps") == 0) {
        cancelSteps = atol(argv[first + 1]);
        first += 2;
    } else if (argc - first > 1 && strcmp(argv[first], "--cancel-at-entry") == 0) {
        cancelEntry = atol(argv[first + 1]);
        first += 2;
    }
    long deleteEntry = 0, lockEntry = 0;
    const char* deletePath = nullptr;
    const char* lockPath = nullptr;
    while (argc - first > 2 && (strcmp(argv[first], "--delete-at-entry") == 0 ||
                                strcmp(argv[first], "--lock-at-entry") == 0)) {
        if (argv[first][2] == 'd') {
            deleteEntry = atol(argv[first + 1]);
            deletePath = argv[first + 2];
        } else {
            lockEntry = atol(argv[first + 1]);
            lockPath = argv[first + 2];
        }
        first += 3;
    }
    HANDLE lock = INVALID_HANDLE_VALUE;
#ifdef CALBRUNE_CD_JOB
    if (argc - first < 3) {
        fprintf(stderr, "usage: calbrune_cdjob [--visible] OUTPUT_FOLDER DRIVE_LETTER TRACK...\n");
        return 2;
    }
#else
    if (argc - first < 2) {
        fprintf(stderr, "usage: calbrune_wavejob [--visible] OUTPUT_FOLDER FILE.wav...\n");
        return 2;
    }
#endif
    if (!converter.loadEncoder()) {
        fprintf(stderr, "lame_enc.dll cannot be loaded\n");
        return 2;
    }
    if (vbrMethod >= 0) {
        converter.setVbrEnabled(1);
        converter.setVbrMethodIndex(vbrMethod);
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
    if (cancelSteps > 0 || cancelEntry > 0 || deleteEntry > 0 || lockEntry > 0) {
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
    }
    if (visible) {
        ShowWindow(h.owner(), SW_SHOW);
    }
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!h.start(converter) || !h.waitForEnd(converter, 3600 * 1000)) {
        fprintf(stderr, "the job did not run to its end\n");
        return 2;
    }
    QueryPerformanceCounter(&end);

    const JobReport& report = lastJobReport();
    printf("end %u\n", (unsigned)h.endParam);
    printf("converted %u\n", report.convertedCount());
    for (const FailedEntry* e = report.first(); e; e = e->next) {
        char line[MAX_PATH + 200];
        describeFailure(e, line, sizeof(line));
        printf("failed %s\n", line);
    }
    printf("seconds %.4f\n", (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart);
    printf("progress_pairs %u\n", (unsigned)h.of(TotalBar, PBM_SETPOS).size());
    printf("pair_seconds %.7f\n", measurePairCost(h));
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    printf("peak_working_set %llu\n", (unsigned long long)memory.PeakWorkingSetSize);
    printf("peak_pagefile %llu\n", (unsigned long long)memory.PeakPagefileUsage);
    converter.unloadEncoder();
    if (lock != INVALID_HANDLE_VALUE) {
        CloseHandle(lock);
    }
    return report.failureCount() ? 1 : 0;
}
