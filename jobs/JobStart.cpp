#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "core/Converter.h"
#include "jobs/JobFrame.h"

// The destination folder, with its parents, when the job writes there and it
// is missing (the folder chosen may have been removed since); 0, after
// telling the user why, when it cannot be made.
static int makeDestinationFolder(Converter* c) {
    const char* folder = c->destinationFolder();
    if ((c->sourceKind() == 0 && c->saveBesideSource()) || PathIsDirectoryA(folder)) {
        return 1;
    }
    int error = SHCreateDirectoryExA(nullptr, folder, nullptr);
    if (error == ERROR_SUCCESS) {
        return 1;
    }
    char reason[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, (DWORD)error, 0,
                   reason, sizeof(reason), nullptr);
    char text[MAX_PATH + 400];
    wsprintfA(text, "Le dossier de destination n'a pas pu être créé :\n%s\n\n%s", folder,
              reason[0] ? reason : "erreur inconnue");
    MessageBoxA(c->ownerWindow(), text, programCaption, MB_ICONINFORMATION);
    return 0;
}

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
    if (!makeDestinationFolder(this)) {
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
