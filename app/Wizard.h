// The wizard sheet: its six pages, its replacement window procedure and the
// message by which pages show and hide the sheet's buttons.
#pragma once

#include <windows.h>

class Converter;

// wParam selects one button (SheetBack, SheetNext, SheetFinish or
// SheetCancel); lParam is the ShowWindow command.
const UINT WM_SHOWSHEETBUTTON = WM_USER + 300;

enum SheetButton {
    SheetBack = 1,
    SheetNext = 2,
    SheetFinish = 4,
    SheetCancel = 16,
};

// The pages in order, with their templates and header texts (0: no header).
struct PageEntry {
    int templateId;
    DLGPROC procedure;
    DWORD flags;
    int title;
    int subtitle;
};
extern const PageEntry pageTable[];

// Gives the sheet wizardSheetProc; null when `sheet` is not a window.
WNDPROC subclassWizardSheet(HWND sheet);
LRESULT CALLBACK wizardSheetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the modal wizard on `c` until it ends.
void runWizard(HINSTANCE instance, Converter* c);
