#include <windows.h>
#include <commctrl.h>

#include "core/Converter.h"
#include "jobs/JobFrame.h"

int Converter::startJob(HWND fileBar, HWND totalBar, HWND fileLabel, HWND totalLabel,
                        UINT doneMessage) {
    // A cancelled worker clears the flag but works on until its end message
    // has been received: only then may another job have the files and the
    // report.
    if (workerExists() || jobRunning()) {
        return 0;
    }
    fileProgressBar_ = fileBar;
    totalProgressBar_ = totalBar;
    fileProgressLabel_ = fileLabel;
    totalProgressLabel_ = totalLabel;
    jobDoneMessage_ = doneMessage;
    if (!encoderLibrary) {
        MessageBoxA(ownerWindow_, " L'encodage necessite la librairie \"lame_enc.dll\" .", programCaption,
                    MB_ICONINFORMATION);
        return 0;
    }
    if (fileBar) {
        SendMessageA(fileBar, PBM_SETPOS, 0, 0);
    }
    if (totalBar) {
        SendMessageA(totalBar, PBM_SETRANGE, 0, MAKELPARAM(0, 1024));
        SendMessageA(totalBar, PBM_SETPOS, 0, 0);
    }
    // Raised here rather than by the worker, so that a cancel made before the
    // worker's first act is not lost.
    setJobRunning(1);
    HANDLE thread = CreateThread(nullptr, 0, sourceKind_ == 1 ? CdConversionJob : WaveConversionJob,
                                 this, 0, nullptr);
    if (!thread) {
        setJobRunning(0);
        MessageBoxA(ownerWindow_, "La conversion n'a pas pu démarrer.", programCaption,
                    MB_ICONINFORMATION);
        return 0;
    }
    workerThread_ = thread;
    return 1;
}

void Converter::closeWorkerThread() {
    if (workerThread_) {
        CloseHandle(workerThread_);
        workerThread_ = nullptr;
    }
}
