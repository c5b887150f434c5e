#include "app/Wizard.h"

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "core/Converter.h"
#include "pages/PageCommon.h"
#include "pages/Pages.h"
#include "res/resource.h"

// The records that carry header titles, watermark and header bitmaps.
static const UINT pageRecordSize = RECORD_SIZE(PROPSHEETPAGEA, pszHeaderSubTitle);
static const UINT sheetRecordSize = RECORD_SIZE(PROPSHEETHEADERA, hbmHeader);
static_assert(sizeof(void*) == 8 || pageRecordSize == 48, "page record size");
static_assert(sizeof(void*) == 8 || sheetRecordSize == 52, "sheet record size");

static WNDPROC previousSheetProc;
// The Converter of the running wizard: the close box and Cancel look at its job.
static Converter* sheetConverter;

static const DWORD interiorPage = PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;

const PageEntry pageTable[] = {
    {IDD_WELCOME, WelcomePage, PSP_HIDEHEADER, 0, 0},
    {IDD_WAVEFILES, WaveFilesPage, interiorPage, IDS_WAVEFILES_TITLE, IDS_WAVEFILES_SUBTITLE},
    {IDD_CDTRACKS, CdTracksPage, interiorPage, IDS_CDTRACKS_TITLE, IDS_CDTRACKS_SUBTITLE},
    {IDD_DESTINATION, DestinationPage, interiorPage, IDS_DESTINATION_TITLE,
     IDS_DESTINATION_SUBTITLE},
    {IDD_OPTIONS, EncoderOptionsPage, interiorPage, IDS_OPTIONS_TITLE, IDS_OPTIONS_SUBTITLE},
    {IDD_FINISH, FinishPage, PSP_HIDEHEADER, 0, 0},
};
static const int pageCount = sizeof(pageTable) / sizeof(pageTable[0]);

WNDPROC subclassWizardSheet(HWND sheet) {
    if (!IsWindow(sheet)) {
        return nullptr;
    }
    WNDPROC previous =
        (WNDPROC)SetWindowLongPtrA(sheet, GWLP_WNDPROC, (LONG_PTR)wizardSheetProc);
    if (!previousSheetProc) {
        previousSheetProc = previous;
    }
    return wizardSheetProc;
}

static int confirmQuit(HWND sheet) {
    return MessageBoxA(sheet, "Voulez-vous vraiment quitter Calbrune ?", programCaption,
                       MB_YESNO | MB_ICONINFORMATION) != IDNO;
}

// A worker uses the Converter and the encoder library until its end message
// has been received, also after a cancel request: the wizard must not end
// before then.
static int workerAlive() {
    return sheetConverter && (sheetConverter->jobRunning() || sheetConverter->workerExists());
}

static int buttonControl(WPARAM selector) {
    switch (selector) {
    case SheetBack:
        return 0x3023;
    case SheetNext:
        return 0x3024;
    case SheetFinish:
        return 0x3025;
    case SheetCancel:
        return IDCANCEL;
    default:
        return 0;
    }
}

LRESULT CALLBACK wizardSheetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL && (workerAlive() || !confirmQuit(window))) {
            return 0;
        }
        break;
    case WM_SYSCOMMAND:
        if (wParam == SC_CLOSE && (workerAlive() || !confirmQuit(window))) {
            return 0;
        }
        break;
    case WM_CLOSE:
        // Sent directly (by the system, another program), it would end the
        // sheet without the cancel path above.
        if (workerAlive()) {
            return 0;
        }
        break;
    case WM_SHOWSHEETBUTTON:
        if (int control = buttonControl(wParam)) {
            return ShowWindow(GetDlgItem(window, control), (int)lParam);
        }
        break;
    }
    return CallWindowProcA(previousSheetProc, window, message, wParam, lParam);
}

// Once the sheet has its size: in the middle of the screen's work area,
// where the program's message boxes appear too.
static int CALLBACK sheetCallback(HWND sheet, UINT message, LPARAM) {
    if (message == PSCB_INITIALIZED) {
        RECT area, window;
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        GetWindowRect(sheet, &window);
        int width = window.right - window.left, height = window.bottom - window.top;
        SetWindowPos(sheet, nullptr, area.left + (area.right - area.left - width) / 2,
                     area.top + (area.bottom - area.top - height) / 2, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return 0;
}

void runWizard(HINSTANCE instance, Converter* c) {
    sheetConverter = c;
    HPROPSHEETPAGE pages[pageCount];
    for (int i = 0; i < pageCount; i++) {
        PROPSHEETPAGEA page = {};
        page.dwSize = pageRecordSize;
        // Pages without a caption of their own would leave the title bar empty.
        page.dwFlags = pageTable[i].flags | PSP_USETITLE;
        page.pszTitle = programCaption;
        page.hInstance = instance;
        page.pszTemplate = MAKEINTRESOURCEA(pageTable[i].templateId);
        page.pfnDlgProc = pageTable[i].procedure;
        page.lParam = (LPARAM)c;
        page.pszHeaderTitle = MAKEINTRESOURCEA(pageTable[i].title);
        page.pszHeaderSubTitle = MAKEINTRESOURCEA(pageTable[i].subtitle);
        pages[i] = CreatePropertySheetPageA(&page);
    }

    // The header picture goes as a handle: given by identifier, it is not
    // drawn everywhere.
    HBITMAP header = (HBITMAP)LoadImageA(instance, MAKEINTRESOURCEA(IDB_HEADER), IMAGE_BITMAP, 0,
                                         0, LR_CREATEDIBSECTION);
    PROPSHEETHEADERA sheet = {};
    sheet.dwSize = sheetRecordSize;
    sheet.dwFlags = PSH_WIZARD97 | PSH_HEADER | PSH_WATERMARK | PSH_USEHBMHEADER;
    sheet.hInstance = instance;
    sheet.nPages = pageCount;
    sheet.nStartPage = 0;
    sheet.phpage = pages;
    sheet.pszbmWatermark = MAKEINTRESOURCEA(IDB_WATERMARK);
    sheet.hbmHeader = header;
    sheet.pfnCallback = sheetCallback;
    sheet.dwFlags |= PSH_USECALLBACK;
    PropertySheetA(&sheet);
    if (header) {
        DeleteObject(header);
    }
}
