#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <stddef.h>

#include "app/Wizard.h"
#include "core/Converter.h"
#include "pages/PageCommon.h"
#include "pages/Pages.h"
#include "res/resource.h"

static HFONT titleFont;

static void onInitDialog(HWND page, LPARAM lParam) {
    attachConverter(page, lParam);
    subclassWizardSheet(GetParent(page));

    // The record without the padded border, which every system fills.
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth);
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0);
    LOGFONTA font = metrics.lfMessageFont;
    font.lfWeight = FW_BOLD;
    lstrcpyA(font.lfFaceName, "Verdana Bold");
    HDC screen = GetDC(nullptr);
    font.lfHeight = MulDiv(-14, GetDeviceCaps(screen, LOGPIXELSY), 72);
    titleFont = CreateFontIndirectA(&font);
    ReleaseDC(nullptr, screen);
    SendDlgItemMessageA(page, IDC_WELCOME_TITLE, WM_SETFONT, (WPARAM)titleFont, TRUE);
}

static INT_PTR onNotify(HWND page, Converter* c, const NMHDR* header) {
    switch (header->code) {
    case PSN_SETACTIVE:
        c->setOwnerWindow(page);
        setWizardButtons(page, PSWIZB_NEXT);
        CheckRadioButton(page, IDC_SOURCE_WAVE, IDC_SOURCE_CD, IDC_SOURCE_WAVE + c->sourceKind());
        showSheetButton(page, SheetBack, SW_HIDE);
        redrawSheet(page);
        return 0;
    case PSN_WIZNEXT:
        showSheetButton(page, SheetBack, SW_SHOW);
        if (IsDlgButtonChecked(page, IDC_SOURCE_WAVE)) {
            c->setSourceKind(0);
            return 0;
        }
        c->setSourceKind(1);
        return pageResult(page, IDD_CDTRACKS);
    }
    return 0;
}

INT_PTR CALLBACK WelcomePage(HWND page, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        onInitDialog(page, lParam);
        return 0;
    case WM_DESTROY:
        DeleteObject(titleFont);
        titleFont = nullptr;
        return 0;
    case WM_NOTIFY:
        return onNotify(page, pageConverter(page), (const NMHDR*)lParam);
    }
    return 0;
}
