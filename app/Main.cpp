#include <windows.h>
#include <commctrl.h>

#include "core/Converter.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    converter.loadEncoder();
    converter.unloadEncoder();
    return 0;
}
