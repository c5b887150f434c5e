#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "core/Converter.h"
#include "core/OptionTables.h"
#include "pages/PageCommon.h"
#include "pages/Pages.h"
#include "res/resource.h"

static void updateLabel(HWND page, int labelId) {
    Converter* c = pageConverter(page);
    char text[64];
    switch (labelId) {
    case IDC_BITRATE_LABEL:
        wsprintfA(text, "%3i Kbps mpeg1\r\n%3i Kbps mpeg2", c->cbrBitrate(1), c->cbrBitrate(0));
        break;
    case IDC_VBR_MIN_LABEL:
        wsprintfA(text, "Minimum bitrate : %i kbps", c->vbrMinBitrate());
        break;
    case IDC_VBR_MAX_LABEL:
        wsprintfA(text, "Maximum bitrate : %i kbps", c->vbrMaxBitrate());
        break;
    case IDC_VBR_QUALITY_LABEL:
        wsprintfA(text, "Qualité VBR : %i", c->vbrQuality());
        break;
    case IDC_ABR_LABEL:
        wsprintfA(text, "Moyenne ABR : %i kbps", c->abrBitrate());
        break;
    default:
        return;
    }
    SetDlgItemTextA(page, labelId, text);
}

static void enable(HWND page, int id, bool enabled) {
    EnableWindow(GetDlgItem(page, id), enabled);
}

static void updateVbrControls(HWND page) {
    Converter* c = pageConverter(page);
    bool vbr = c->vbrEnabled() != 0;
    bool abr = c->vbrMethodValue() == 4;
    for (int id = IDC_VBR_METHOD; id <= IDC_VBR_MAX; id++) {
        enable(page, id, vbr);
    }
    enable(page, IDC_VBR_QUALITY_LABEL, vbr && !abr);
    enable(page, IDC_VBR_QUALITY, vbr && !abr);
    enable(page, IDC_ABR_LABEL, vbr && abr);
    enable(page, IDC_ABR_BITRATE, vbr && abr);
    enable(page, IDC_BITRATE, !vbr);
    enable(page, IDC_BITRATE_LABEL, !vbr);
}

static void setUpTrackBar(HWND page, int id, int minimum, int maximum, int position,
                          int labelId) {
    SendDlgItemMessageA(page, id, TBM_SETRANGE, TRUE, MAKELPARAM(minimum, maximum));
    SendDlgItemMessageA(page, id, TBM_SETPOS, TRUE, position);
    updateLabel(page, labelId);
}

static void fillComboBox(HWND page, int id, const OptionEntry* rows, int count, int selected) {
    SendDlgItemMessageA(page, id, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < count; i++) {
        SendDlgItemMessageA(page, id, CB_ADDSTRING, 0, (LPARAM)rows[i].label);
    }
    SendDlgItemMessageA(page, id, CB_SETCURSEL, selected, 0);
}

static void onInitDialog(HWND page, LPARAM lParam) {
    Converter* c = attachConverter(page, lParam);
    setUpTrackBar(page, IDC_BITRATE, 0, 13, c->bitrateIndex(), IDC_BITRATE_LABEL);
    CheckDlgButton(page, IDC_PRIVATE_BIT, c->privateBit() ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, IDC_ORIGINAL_BIT, c->originalBit() ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, IDC_COPYRIGHT_BIT, c->copyrightBit() ? BST_CHECKED : BST_UNCHECKED);
    fillComboBox(page, IDC_SAMPLE_RATE, sampleRates, 7, c->sampleRateIndex());
    fillComboBox(page, IDC_CHANNEL_MODE, channelModes, 5, c->channelModeIndex());
    fillComboBox(page, IDC_QUALITY, qualityPresets, 6, c->qualityIndex());
    updateVbrControls(page);
    fillComboBox(page, IDC_VBR_METHOD, vbrMethods, 5, c->vbrMethodIndex());
    setUpTrackBar(page, IDC_VBR_MIN, 0, 17, c->vbrMinBitrateIndex(), IDC_VBR_MIN_LABEL);
    setUpTrackBar(page, IDC_VBR_MAX, 0, 17, c->vbrMaxBitrateIndex(), IDC_VBR_MAX_LABEL);
    setUpTrackBar(page, IDC_VBR_QUALITY, 0, 9, c->vbrQuality(), IDC_VBR_QUALITY_LABEL);
    setUpTrackBar(page, IDC_ABR_BITRATE, 8, 310, c->abrBitrate(), IDC_ABR_LABEL);
}

// The combo boxes and check boxes, each stored at once into its setting.
struct SettingControl {
    int id;
    bool comboBox;  // only a new selection counts; a check box's every click does
    void (Converter::*store)(int);
    bool vbrRules;  // the setting changes which controls are enabled
};

static const SettingControl settingControls[] = {
    {IDC_SAMPLE_RATE, true, &Converter::setSampleRateIndex, false},
    {IDC_CHANNEL_MODE, true, &Converter::setChannelModeIndex, false},
    {IDC_QUALITY, true, &Converter::setQualityIndex, false},
    {IDC_PRIVATE_BIT, false, &Converter::setPrivateBit, false},
    {IDC_COPYRIGHT_BIT, false, &Converter::setCopyrightBit, false},
    {IDC_ORIGINAL_BIT, false, &Converter::setOriginalBit, false},
    {IDC_VBR_ENABLED, false, &Converter::setVbrEnabled, true},
    {IDC_VBR_METHOD, true, &Converter::setVbrMethodIndex, true},
};

static void onCommand(HWND page, Converter* c, WPARAM wParam, HWND control) {
    for (const SettingControl& setting : settingControls) {
        if (setting.id != LOWORD(wParam)) {
            continue;
        }
        if (setting.comboBox && HIWORD(wParam) != CBN_SELCHANGE) {
            return;
        }
        int value = (int)SendMessageA(control, setting.comboBox ? CB_GETCURSEL : BM_GETCHECK, 0, 0);
        (c->*setting.store)(value);
        if (setting.vbrRules) {
            updateVbrControls(page);
        }
        return;
    }
}

// The fields follow the thumb while it is dragged; the minimum and maximum
// VBR bitrates pull each other along so that the minimum never exceeds the
// maximum.
static void onScroll(HWND page, Converter* c, HWND trackBar) {
    int position = (int)SendMessageA(trackBar, TBM_GETPOS, 0, 0);
    switch (GetDlgCtrlID(trackBar)) {
    case IDC_BITRATE:
        c->setBitrateIndex(position);
        updateLabel(page, IDC_BITRATE_LABEL);
        break;
    case IDC_VBR_QUALITY:
        c->setVbrQuality(position);
        updateLabel(page, IDC_VBR_QUALITY_LABEL);
        break;
    case IDC_VBR_MIN:
        c->setVbrMinBitrateIndex(position);
        updateLabel(page, IDC_VBR_MIN_LABEL);
        if (c->vbrMaxBitrateIndex() < position) {
            SendDlgItemMessageA(page, IDC_VBR_MAX, TBM_SETPOS, TRUE, position);
            c->setVbrMaxBitrateIndex(position);
            updateLabel(page, IDC_VBR_MAX_LABEL);
        }
        break;
    case IDC_VBR_MAX:
        c->setVbrMaxBitrateIndex(position);
        updateLabel(page, IDC_VBR_MAX_LABEL);
        if (c->vbrMinBitrateIndex() > position) {
            SendDlgItemMessageA(page, IDC_VBR_MIN, TBM_SETPOS, TRUE, position);
            c->setVbrMinBitrateIndex(position);
            updateLabel(page, IDC_VBR_MIN_LABEL);
        }
        break;
    case IDC_ABR_BITRATE:
        c->setAbrBitrate(position);
        updateLabel(page, IDC_ABR_LABEL);
        break;
    default:
        return;
    }
    SetFocus(page);
}

INT_PTR CALLBACK EncoderOptionsPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        onInitDialog(page, lParam);
        return 0;
    case WM_COMMAND:
        onCommand(page, pageConverter(page), wParam, (HWND)lParam);
        return 0;
    case WM_HSCROLL:
        if (lParam && GetParent((HWND)lParam) == page) {
            onScroll(page, pageConverter(page), (HWND)lParam);
        }
        return 0;
    case WM_NOTIFY:
        if (((const NMHDR*)lParam)->code == PSN_SETACTIVE) {
            setWizardButtons(page, PSWIZB_BACK | PSWIZB_NEXT);
        }
        return 0;
    }
    return 0;
}
