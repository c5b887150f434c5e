#include "lamedll/HelperLink.h"

#include <bcrypt.h>
#include <stdio.h>
#include <string.h>

#include <string>

// How long a helper gets to start and connect, and then to answer each read
// or write: generous, as a loaded machine may stall for a moment, and the same
// for every connection, so that one slow start costs no other file.
const DWORD connectLimitMs = 5000;
const DWORD answerLimitMs = 5000;

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

static int randomHex(char* text, DWORD digits) {
    unsigned char random[32];
    if (digits / 2 > sizeof random ||
        BCryptGenRandom(nullptr, random, digits / 2, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
        return 0;
    }
    for (DWORD i = 0; i < digits / 2; i++) {
        sprintf(text + 2 * i, "%02x", random[i]);
    }
    return 1;
}

static int isVariable(const char* entry, const char* name) {
    size_t length = strlen(name);
    return strncmp(entry, name, length) == 0 && entry[length] == '=';
}

// Ours and the folder and nonce for the helper, in an environment block.
static std::string helperEnvironment(const char* folder, const char* nonce) {
    std::string block;
    char* inherited = GetEnvironmentStringsA();
    for (const char* entry = inherited; entry && *entry; entry += strlen(entry) + 1) {
        if (!isVariable(entry, helperFolderVariable) && !isVariable(entry, helperNonceVariable)) {
            block.append(entry, strlen(entry) + 1);
        }
    }
    if (inherited) {
        FreeEnvironmentStringsA(inherited);
    }
    block += std::string(helperFolderVariable) + "=" + folder + '\0';
    block += std::string(helperNonceVariable) + "=" + nonce + '\0';
    block += '\0';
    return block;
}

// The end of a file: a helper not connected yet, or gone.
static int isEnd(DWORD error) {
    return error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE;
}

// One read or write, waited for at most limitMs. Returns 1 when it ended,
// with *moved 0 at the end of the file; 0 on failure or when it timed out.
int HelperLink::transfer(HANDLE file, void* data, DWORD size, int writing, DWORD limitMs,
                         DWORD* moved) {
    *moved = 0;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = done;
    ResetEvent(done);
    BOOL finished = writing ? WriteFile(file, data, size, nullptr, &overlapped)
                            : ReadFile(file, data, size, nullptr, &overlapped);
    if (!finished && GetLastError() != ERROR_IO_PENDING) {
        return isEnd(GetLastError());
    }
    if (!finished && WaitForSingleObject(done, limitMs) != WAIT_OBJECT_0) {
        // The buffer must not be written into once we have given up on it.
        CancelIo(file);
        WaitForSingleObject(done, answerLimitMs);
        return 0;
    }
    if (!GetOverlappedResult(file, &overlapped, moved, FALSE)) {
        *moved = 0;
        return isEnd(GetLastError());
    }
    return 1;
}

// The ready byte and our nonce, read as they come in.
int HelperLink::readReady(const char* nonce, DWORD started) {
    char ready[1 + helperNonceLength];
    DWORD have = 0;
    while (have < sizeof ready) {
        DWORD elapsed = GetTickCount() - started;
        DWORD got = 0;
        if (elapsed >= connectLimitMs ||
            !transfer(fromHelper, ready + have, sizeof ready - have, 0, connectLimitMs - elapsed, &got)) {
            return 0;
        }
        // Until the helper has opened its end, a read finds the end of the file.
        if (got == 0) {
            Sleep(1);
        }
        have += got;
    }
    return ready[0] == helperReadyByte && memcmp(ready + 1, nonce, helperNonceLength) == 0;
}

// The helper makes its own private folder under the name we give it, and the
// FIFOs in it. We open "out" first and write nothing before the nonce has come
// back through it: a FIFO planted by anyone else cannot send it, so it is
// never written to, and "in" is opened only once the folder is known to be
// the helper's. Wine opens FIFOs non-blocking, so each open is retried.
int HelperLink::start(HMODULE dll) {
    char program[MAX_PATH];
    char name[25];
    char nonce[helperNonceLength + 1];
    if (!helperPath(dll, program, sizeof program) || !randomHex(name, 24) ||
        !randomHex(nonce, helperNonceLength)) {
        return 0;
    }
    char unixFolder[64];
    char windowsFolder[64];
    sprintf(unixFolder, "/tmp/lame_enc-%s", name);
    sprintf(windowsFolder, "Z:\\tmp\\lame_enc-%s", name);
    std::string environment = helperEnvironment(unixFolder, nonce);
    if (!done) {
        done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    char commandLine[MAX_PATH + 2];
    sprintf(commandLine, "\"%s\"", program);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!done || !CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, 0,
                                 (void*)environment.c_str(), nullptr, &startup, &process)) {
        return 0;
    }
    // For a Linux program Wine gives no process handle, and leaves in hThread
    // whatever was on its stack: closing that closed one of our own handles
    // (the low two bits of a handle do not count), at random.
    if (process.hProcess) {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }

    char inPath[MAX_PATH];
    char outPath[MAX_PATH];
    sprintf(inPath, "%s\\in", windowsFolder);
    sprintf(outPath, "%s\\out", windowsFolder);
    DWORD started = GetTickCount();
    while (fromHelper == INVALID_HANDLE_VALUE && GetTickCount() - started < connectLimitMs) {
        fromHelper = CreateFileA(outPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                 nullptr);
        if (fromHelper == INVALID_HANDLE_VALUE) {
            Sleep(1);
        }
    }
    int ready = fromHelper != INVALID_HANDLE_VALUE && readReady(nonce, started);
    while (ready && toHelper == INVALID_HANDLE_VALUE && GetTickCount() - started < connectLimitMs) {
        toHelper = CreateFileA(inPath, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                               nullptr);
        if (toHelper == INVALID_HANDLE_VALUE) {
            Sleep(1);
        }
    }
    if (!connected()) {
        close();
        return 0;
    }
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
            if (!transfer(fromHelper, incoming, incomingSize, 0, answerLimitMs, &got) || got == 0) {
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
        if (!transfer(toHelper, (void*)at, size, 1, answerLimitMs, &put) || put == 0) {
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
        // Forgotten before the allocation, which may throw.
        delete[] outgoing;
        outgoing = nullptr;
        outgoingSize = 0;
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
    if (done) {
        CloseHandle(done);
    }
    delete[] outgoing;
    delete[] incoming;
}
