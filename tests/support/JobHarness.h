// Runs a conversion job against real progress bars and captions in a hidden
// window, recording every message the worker sends them.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "core/Converter.h"

enum Control { FileBar, TotalBar, FileLabel, TotalLabel };

struct ControlEvent {
    Control control;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::string text;  // WM_SETTEXT
};

class JobHarness {
public:
    static const UINT doneMessage = WM_USER + 1;

    JobHarness();
    ~JobHarness();

    HWND owner() const { return ownerWindow; }
    HWND control(Control which) const { return controls[which]; }
    // startJob with the four controls and the finish page's message.
    int start(Converter& c);
    // Pumps messages until the end message, then closes the worker's handle as the finish page does.
    bool waitForEnd(Converter& c, DWORD timeoutMs = 30000);
    // The events of one control with one message, in order.
    std::vector<ControlEvent> of(Control control, UINT message) const;

    // The program's boxes get `answers` in turn (IDNO when none is left, IDOK without a Yes).
    std::vector<int> answers;
    std::vector<std::string> questions;
    // Called on the interface thread for every recorded event, as it happens.
    std::function<void(const ControlEvent&)> onEvent;
    std::vector<ControlEvent> events;
    bool ended;
    WPARAM endParam;

private:
    static LRESULT CALLBACK ownerProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK controlProc(HWND, UINT, WPARAM, LPARAM);
    static void CALLBACK lookForBoxes(HWND, UINT, UINT_PTR, DWORD);

    HWND ownerWindow;
    HWND controls[4];
    WNDPROC original[4];
    HWND answeredBox;
    UINT_PTR timer;
};
