#include "lamedll/HelperLink.h"

#include <bcrypt.h>
#include <stdio.h>
#include <string.h>

// How long a started helper gets to create and open its FIFOs. After a
// helper has failed to connect, the next ones get much less: a helper that
// cannot run at all (its library missing, say) must not cost seconds for
// every file of a long list.
const DWORD connectTimeoutMs = 3000;
const DWORD retryTimeoutMs = 300;
static DWORD connectTimeout = connectTimeoutMs;

static int helperPath(HMODULE dll, char* path, DWORD size) {
    DWORD length = GetModuleFileNameA(dll, path, size);
    if (length == 0 || length >= size) {
        return 0;
    }
    char* name = strrchr(path, '\\');
    if (!name || (DWORD)(name - path) + 17 >= size) {
        return 0;
    }
    strcpy(name + 1, "lame_enc_helper");
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// A fresh folder under /tmp that only this user can write into: the helper
// makes it private and puts its FIFOs there.
static int makeFolder(char* unixPath, char* windowsPath) {
    unsigned char random[12];
    if (BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
        return 0;
    }
    char name[40];
    for (int i = 0; i < (int)sizeof random; i++) {
        sprintf(name + 2 * i, "%02x", random[i]);
    }
    sprintf(unixPath, "/tmp/lame_enc-%s", name);
    sprintf(windowsPath, "Z:\\tmp\\lame_enc-%s", name);
    return CreateDirectoryA(windowsPath, nullptr);
}

static void removeFolder(const char* windowsPath) {
    char path[MAX_PATH];
    sprintf(path, "%s\\in", windowsPath);
    DeleteFileA(path);
    sprintf(path, "%s\\out", windowsPath);
    DeleteFileA(path);
    RemoveDirectoryA(windowsPath);
}

// Wine opens FIFOs non-blocking: reads give 0 bytes until the helper has
// opened its write end, which is when it writes the ready byte.
int HelperLink::start(HMODULE dll) {
    char program[MAX_PATH];
    char unixFolder[64];
    char windowsFolder[64];
    if (!helperPath(dll, program, sizeof program) || !makeFolder(unixFolder, windowsFolder)) {
        return 0;
    }
    char commandLine[MAX_PATH + 80];
    sprintf(commandLine, "\"%s\" %s", program, unixFolder);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        removeFolder(windowsFolder);
        return 0;
    }
    if (process.hProcess) {
        CloseHandle(process.hProcess);
    }
    if (process.hThread) {
        CloseHandle(process.hThread);
    }

    char inPath[MAX_PATH];
    char outPath[MAX_PATH];
    sprintf(inPath, "%s\\in", windowsFolder);
    sprintf(outPath, "%s\\out", windowsFolder);
    DWORD started = GetTickCount();
    while (toHelper == INVALID_HANDLE_VALUE && GetTickCount() - started < connectTimeout) {
        toHelper = CreateFileA(inPath, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (toHelper == INVALID_HANDLE_VALUE) {
            Sleep(1);
        }
    }
    // Wine may open "in" before the helper listens, even before "out" exists.
    while (toHelper != INVALID_HANDLE_VALUE && fromHelper == INVALID_HANDLE_VALUE &&
           GetTickCount() - started < connectTimeout) {
        fromHelper = CreateFileA(outPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (fromHelper == INVALID_HANDLE_VALUE) {
            Sleep(1);
        }
    }
    char ready = 0;
    while (fromHelper != INVALID_HANDLE_VALUE && GetTickCount() - started < connectTimeout) {
        DWORD got = 0;
        if (ReadFile(fromHelper, &ready, 1, &got, nullptr) && got == 1) {
            break;
        }
        Sleep(1);
    }
    if (ready != helperReadyByte) {
        close();
        removeFolder(windowsFolder);
        connectTimeout = retryTimeoutMs;
        return 0;
    }
    connectTimeout = connectTimeoutMs;
    return 1;
}

// The size of a FIFO's buffer: one read takes all there is.
const DWORD incomingSize = 65536;

int HelperLink::readAll(void* data, DWORD size) {
    char* at = (char*)data;
    while (size > 0) {
        if (incomingStart == incomingEnd) {
            if (!incoming) {
                incoming = new char[incomingSize];
            }
            DWORD got = 0;
            if (!ReadFile(fromHelper, incoming, incomingSize, &got, nullptr) || got == 0) {
                return 0;
            }
            incomingStart = 0;
            incomingEnd = got;
        }
        DWORD take = incomingEnd - incomingStart < size ? incomingEnd - incomingStart : size;
        memcpy(at, incoming + incomingStart, take);
        incomingStart += take;
        at += take;
        size -= take;
    }
    return 1;
}

int HelperLink::writeAll(const void* data, DWORD size) {
    const char* at = (const char*)data;
    while (size > 0) {
        DWORD put = 0;
        if (!WriteFile(toHelper, at, size, &put, nullptr) || put == 0) {
            return 0;
        }
        at += put;
        size -= put;
    }
    return 1;
}

int HelperLink::send(uint32_t kind, const void* payload, uint32_t size) {
    if (!connected()) {
        return 0;
    }
    uint32_t total = sizeof(HelperRequest) + size;
    if (total > outgoingSize) {
        delete[] outgoing;
        outgoing = new char[total];
        outgoingSize = total;
    }
    HelperRequest header = {kind, size};
    memcpy(outgoing, &header, sizeof header);
    if (size > 0) {
        memcpy(outgoing + sizeof header, payload, size);
    }
    if (!writeAll(outgoing, total)) {
        close();
        return 0;
    }
    return 1;
}

int HelperLink::receive(uint32_t* status, void* payload, uint32_t capacity, uint32_t* size) {
    if (!connected()) {
        return 0;
    }
    HelperReply header;
    if (!readAll(&header, sizeof header) || header.size > capacity ||
        (header.size > 0 && !readAll(payload, header.size))) {
        close();
        return 0;
    }
    *status = header.status;
    *size = header.size;
    return 1;
}

// Closing our ends is what tells the helper to finish.
void HelperLink::close() {
    incomingStart = 0;
    incomingEnd = 0;
    if (toHelper != INVALID_HANDLE_VALUE) {
        CloseHandle(toHelper);
        toHelper = INVALID_HANDLE_VALUE;
    }
    if (fromHelper != INVALID_HANDLE_VALUE) {
        CloseHandle(fromHelper);
        fromHelper = INVALID_HANDLE_VALUE;
    }
}

HelperLink::~HelperLink() {
    close();
    delete[] outgoing;
    delete[] incoming;
}
