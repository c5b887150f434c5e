// The six wizard pages, in the sheet's order. Each receives the Converter
// as the lParam of its creation record.
#pragma once

#include <windows.h>

INT_PTR CALLBACK WelcomePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK WaveFilesPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK CdTracksPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DestinationPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK EncoderOptionsPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FinishPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// The finish page's end-of-job message.
const UINT finishPageJobDone = WM_USER + 1;
