// The encoding loop that both jobs share: chunks in, MP3 bytes out to the
// pending output, progress on the bars, flush, and the outcome of the entry.
#pragma once

#include "jobs/JobFrame.h"

struct EntryResult {
    EntryFailure failure;  // 0 when the entry was encoded and flushed
    DWORD detail;
    bool streamOpened;
    // The encoder stream, flushed but not yet handed back: settleOutput
    // does that once it knows whether the output is kept.
    HBE_STREAM stream;
    // The stream asked for the VBR header, which beWriteVBRHeader writes
    // into the closed output before it is put in place.
    bool vbrHeader;
};

// The next chunk of 16-bit samples, converted as the record asks; 0 when
// none can be had.
typedef DWORD (*ReadChunk)(Converter* c, void* source, DWORD* consumed, DWORD total, SHORT* out,
                           DWORD n, const BE_CONFIG* config);

struct SampleSource {
    ReadChunk read;
    void* source;
    DWORD total;                  // bytes to encode
    EntryFailure failureOnEmpty;  // what a chunk of 0 samples means
};

// How a step shows on the bars: the entry bar at base + consumed, the
// entry's fraction at start + consumed × numerator ÷ (total × denominator).
struct StepScale {
    DWORD base;
    float start;
    float numerator;
    float denominator;
};

// Every write of MP3 bytes goes through here; the tests put a full disk in
// its place.
extern BOOL(WINAPI* writeOutput)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

EntryResult encodeEntry(JobFrame& frame, BE_CONFIG* config, const SampleSource& samples,
                        const StepScale& scale, HANDLE output);

// Hands the entry's stream back to the library, then puts a complete output
// in place, with its VBR header written into the closed temporary file
// first, or throws away the temporary file of a cancelled or failed entry,
// and records what became of the entry.
void settleOutput(JobFrame& frame, PendingOutput* output, const char* name,
                  const EntryResult& result);
