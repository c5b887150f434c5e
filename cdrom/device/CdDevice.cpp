#include "cdrom/CdDevice.h"

HANDLE cdOpenVolume(const char* devicePath) {
    return CreateFileA(devicePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

void cdCloseVolume(HANDLE volume) {
    if (volume != INVALID_HANDLE_VALUE) {
        CloseHandle(volume);
    }
}

BOOL cdDeviceIoControl(HANDLE volume, DWORD code, void* input, DWORD inputSize, void* output,
                       DWORD outputSize, DWORD* returned) {
    return DeviceIoControl(volume, code, input, inputSize, output, outputSize, returned,
                           nullptr);
}

DWORD cdLogicalDrives() {
    return GetLogicalDrives();
}

UINT cdDriveType(const char* rootPath) {
    return GetDriveTypeA(rootPath);
}

BYTE* cdAllocTrackBuffer(SIZE_T size) {
    return (BYTE*)VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void cdFreeTrackBuffer(BYTE* buffer) {
    if (buffer) {
        VirtualFree(buffer, 0, MEM_RELEASE);
    }
}
