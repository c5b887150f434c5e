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
    JobHarness(const JobHarness&) = delete;
    JobHarness& operator=(const JobHarness&) = delete;

    HWND owner() const { return ownerWindow; }
    HWND control(Control which) const { return controls[which]; }

    // startJob with the four controls (or none) and the finish page's message.
    int start(Converter& c, bool withControls = true);
    // Pumps messages until the end message arrives, then closes the worker's
    // handle as the finish page does; answers the overwrite questions with
    // `answers` in turn (IDYES or IDNO). Returns false on timeout.
    bool waitForEnd(Converter& c, DWORD timeoutMs = 30000);

    std::vector<int> answers;
    // Called on the interface thread just before a question is answered.
    std::function<void()> beforeAnswer;
    // Called on the interface thread for every recorded event, as it happens.
    std::function<void(const ControlEvent&)> onEvent;

    std::vector<ControlEvent> events;
    std::vector<std::string> questions;
    bool ended;
    WPARAM endParam;
    int endMessages;  // all received, over every job

    // The events of one control with one message, in order.
    std::vector<ControlEvent> of(Control control, UINT message) const;

private:
    static LRESULT CALLBACK ownerProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK controlProc(HWND, UINT, WPARAM, LPARAM);
    void answerQuestion();

    HWND ownerWindow;
    HWND controls[4];
    WNDPROC original[4];
    size_t nextAnswer;
    HWND answeredBox;
};

// Finds the process's message box with the given caption, reads its text and
// presses a button; run it on another thread than the box's.
bool pressMessageBox(const char* caption, int button, std::string* text, DWORD timeoutMs);
