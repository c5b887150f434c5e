#include <windows.h>
#include <commctrl.h>

#include "app/Wizard.h"
#include "core/Converter.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    InitCommonControls();
    // A missing library is reported when a conversion starts, not here.
    converter.loadEncoder();
    runWizard(instance, &converter);
    converter.unloadEncoder();
    return 0;
}
