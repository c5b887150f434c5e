// The DLL's end of the two FIFOs to a native helper process.
#pragma once

#include <windows.h>

#include "lamedll/Protocol.h"

class HelperLink {
public:
    // Starts the helper found next to this DLL and waits for it to connect.
    int start(HMODULE dll);
    int send(uint32_t kind, const void* payload, uint32_t size);
    // Reads one reply; a payload larger than capacity breaks the link.
    int receive(uint32_t* status, void* payload, uint32_t capacity, uint32_t* size);
    void close();
    ~HelperLink();
    int connected() const { return toHelper != INVALID_HANDLE_VALUE; }

private:
    int transfer(HANDLE file, void* data, DWORD size, int writing, DWORD limitMs, DWORD* done);
    int readReady(const char* nonce, DWORD started);
    int readAll(void* data, DWORD size);
    int writeAll(const void* data, DWORD size);

    HANDLE toHelper = INVALID_HANDLE_VALUE;
    HANDLE fromHelper = INVALID_HANDLE_VALUE;
    // Signals the end of each overlapped read or write, which we wait for
    // with a limit: a helper that stops answering must not hang the caller.
    HANDLE done = nullptr;
    // Header and payload go out in one write: a system call under Wine is dear.
    char* outgoing = nullptr;
    uint32_t outgoingSize = 0;
    // Replies are read as they come, a whole one at a time where possible.
    char* incoming = nullptr;
    DWORD incomingStart = 0;
    DWORD incomingEnd = 0;
};
