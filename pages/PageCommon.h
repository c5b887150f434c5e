// What the pages share: their Converter, their messages to the sheet,
// tooltips, and message boxes in the program's words.
#pragma once

#include <windows.h>

#include <stddef.h>

class Converter;

// A record's size up to and including `field`, as the headers' *_SIZE
// macros give it, but usable in a constant expression.
#define RECORD_SIZE(type, field) (offsetof(type, field) + sizeof(((type*)nullptr)->field))

// Keeps the Converter of the page's creation record in its user data.
Converter* attachConverter(HWND page, LPARAM creationRecord);
Converter* pageConverter(HWND page);

// PSM_SETWIZBUTTONS, posted to the sheet.
void setWizardButtons(HWND page, DWORD buttons);
// WM_SHOWSHEETBUTTON, posted to the sheet.
void showSheetButton(HWND page, int button, int showCommand);
// Repaints the whole sheet once it has switched pages: going from an
// interior page to an exterior one can leave the header band behind.
void redrawSheet(HWND page);
// Sets the page's answer to a notification; the procedure returns TRUE.
INT_PTR pageResult(HWND page, LONG_PTR result);

struct Tooltip {
    int control;
    const char* text;
};

// One tooltip window for the page, wrapping at 250 pixels.
void addTooltips(HWND page, const Tooltip* tips, int count);

int tellUser(HWND owner, const char* text);

// A message that names at most `shownLines` entries, then how many more.
class EntryListMessage {
public:
    static const int shownLines = 15;

    explicit EntryListMessage(const char* heading);
    void add(const char* line);
    int count() const { return lines; }
    // The whole text, with the "and n more" line when needed.
    const char* text();

private:
    void append(const char* part);

    char buffer[16384];
    int length;
    int lines;
    bool finished;
};
