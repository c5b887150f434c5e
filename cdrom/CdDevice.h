// The few calls through which the CD code reaches the machine: drives, their
// volumes and the memory for a whole track. The program links the Win32
// implementation (cdrom/device/); the tests link a simulated machine.
#pragma once

#include <windows.h>

// INVALID_HANDLE_VALUE when the volume cannot be opened.
HANDLE cdOpenVolume(const char* devicePath);
void cdCloseVolume(HANDLE volume);
// DeviceIoControl without overlapped structure; nonzero on success.
BOOL cdDeviceIoControl(HANDLE volume, DWORD code, void* input, DWORD inputSize, void* output,
                       DWORD outputSize, DWORD* returned);
DWORD cdLogicalDrives();
UINT cdDriveType(const char* rootPath);
// Committed, zeroed memory for a track; null when it cannot be had.
BYTE* cdAllocTrackBuffer(SIZE_T size);
void cdFreeTrackBuffer(BYTE* buffer);
