#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "app/Wizard.h"
#include "core/Converter.h"
#include "jobs/JobFrame.h"
#include "pages/PageCommon.h"
#include "pages/Pages.h"
#include "res/resource.h"

static void setFinishText(HWND page, const char* text) {
    SendMessageA(GetParent(page), PSM_SETFINISHTEXTA, 0, (LPARAM)text);
}

static void resetBars(HWND page) {
    SendDlgItemMessageA(page, IDC_FILE_PROGRESS, PBM_SETPOS, 0, 0);
    SendDlgItemMessageA(page, IDC_TOTAL_PROGRESS, PBM_SETPOS, 0, 0);
}

static void onSetActive(HWND page, Converter* c) {
    c->setOwnerWindow(page);
    setWizardButtons(page, PSWIZB_BACK | PSWIZB_FINISH);
    CheckRadioButton(page, IDC_CLOSE_WHEN_DONE, IDC_RETURN_WHEN_DONE,
                     c->closeWhenDone() ? IDC_CLOSE_WHEN_DONE : IDC_RETURN_WHEN_DONE);
    resetBars(page);
    SetDlgItemTextA(page, IDC_FILE_CAPTION, "Progression fichier...");
    SetDlgItemTextA(page, IDC_TOTAL_CAPTION, "Progression générale...");
    redrawSheet(page);
}

// Finish starts a conversion, or asks the running one to stop. While a
// stopped worker is still finishing its entry, Finish does nothing: the
// page waits for its end message. Nor does a press that reaches the sheet
// while one of our messages has it disabled: no user made it, and a cancel
// sent as the job ended must not start the next one.
static void onFinish(HWND page, Converter* c) {
    if (c->jobRunning()) {
        c->setJobRunning(0);
        return;
    }
    if (c->workerExists() || !IsWindowEnabled(GetParent(page))) {
        return;
    }
    showSheetButton(page, SheetCancel, SW_HIDE);
    showSheetButton(page, SheetBack, SW_HIDE);
    setFinishText(page, "Annuler");
    if (!c->startJob(GetDlgItem(page, IDC_FILE_PROGRESS), GetDlgItem(page, IDC_TOTAL_PROGRESS),
                     GetDlgItem(page, IDC_FILE_CAPTION), GetDlgItem(page, IDC_TOTAL_CAPTION),
                     finishPageJobDone)) {
        setFinishText(page, "Terminer");
        showSheetButton(page, SheetCancel, SW_SHOW);
        showSheetButton(page, SheetBack, SW_SHOW);
    }
}

static bool wholeJobFailed(const JobReport& report) {
    const FailedEntry* first = report.first();
    return report.failureCount() == 1 && first &&
           (first->failure == FailNoDrive || first->failure == FailNoToc);
}

// What a job that ran to its end could not convert, entry by entry.
static void reportFailures(HWND page, Converter* c) {
    const JobReport& report = lastJobReport();
    char line[MAX_PATH + 256];
    if (wholeJobFailed(report)) {
        char reason[MAX_PATH + 200];
        describeFailure(report.first(), reason, sizeof(reason));
        wsprintfA(line, "Le CD n'a pas pu être lu : aucune piste n'a été encodée.\n\n%s", reason);
        tellUser(page, line);
        return;
    }
    bool tracks = c->sourceKind() != 0;
    wsprintfA(line,
              tracks ? "Encodage terminé, mais des pistes n'ont pas pu être encodées.\n\n"
                       "Pistes encodées : %u\nPistes en échec : %u"
                     : "Encodage terminé, mais des fichiers n'ont pas pu être encodés.\n\n"
                       "Fichiers encodés : %u\nFichiers en échec : %u",
              report.convertedCount(), report.failureCount());
    if (report.declinedCount()) {
        char declined[96];
        wsprintfA(declined, "\nLaissés tels quels à votre demande : %u", report.declinedCount());
        lstrcatA(line, declined);
    }
    lstrcatA(line, "\n");
    EntryListMessage message(line);
    for (const FailedEntry* entry = report.first(); entry; entry = entry->next) {
        describeFailure(entry, line, sizeof(line));
        message.add(line);
    }
    // Entries that failed but could not be recorded still count.
    for (unsigned k = message.count(); k < report.failureCount(); k++) {
        message.add("échec de la conversion");
    }
    tellUser(page, message.text());
}

static void onJobDone(HWND page, Converter* c, WPARAM outcome) {
    c->closeWorkerThread();
    if (outcome == JobCancelled) {
        tellUser(page, "Encodage interrompu!  ");
        setFinishText(page, "Terminer");
        showSheetButton(page, SheetCancel, SW_SHOW);
        showSheetButton(page, SheetBack, SW_SHOW);
        resetBars(page);
        return;
    }
    // After failures the wizard stays open, whatever was chosen, so that
    // the message can be read and the list tried again.
    if (outcome == JobCompleted && c->closeWhenDone()) {
        DestroyWindow(GetParent(page));
        return;
    }
    if (outcome == JobCompleted) {
        tellUser(page, "Encodage reussi!  ");
    } else {
        reportFailures(page, c);
    }
    setFinishText(page, "Terminer");
    showSheetButton(page, SheetBack, SW_SHOW);
    showSheetButton(page, SheetCancel, SW_SHOW);
    SendMessageA(GetParent(page), PSM_SETCURSELID, 0, IDD_WELCOME);
}

static INT_PTR onNotify(HWND page, Converter* c, const NMHDR* header) {
    switch (header->code) {
    case PSN_SETACTIVE:
        onSetActive(page, c);
        return 0;
    case PSN_WIZFINISH:
        onFinish(page, c);
        return pageResult(page, 1);  // the wizard never closes through Finish
    }
    return 0;
}

INT_PTR CALLBACK FinishPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        attachConverter(page, lParam);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_CLOSE_WHEN_DONE || LOWORD(wParam) == IDC_RETURN_WHEN_DONE) {
            pageConverter(page)->setCloseWhenDone(
                IsDlgButtonChecked(page, IDC_CLOSE_WHEN_DONE) ? 1 : 0);
        }
        return 0;
    case WM_NOTIFY:
        return onNotify(page, pageConverter(page), (const NMHDR*)lParam);
    case finishPageJobDone:
        // The same number as DM_SETDEFID: only a worker's end message counts.
        if (pageConverter(page)->workerExists()) {
            onJobDone(page, pageConverter(page), wParam);
        }
        return 0;
    }
    return 0;
}
