// What a job leaves for the finish page: the entries that could not be
// converted, and why. Written by the worker, read after its end message.
#pragma once

#include <windows.h>

#include "core/WavHeader.h"

// wParam of the end message.
enum JobEnd {
    JobCancelled = 0,
    JobCompleted = 1,
    JobCompletedWithFailures = 2,
};

enum EntryFailure {
    FailSourceOpen = 1,       // the WAV file cannot be opened
    FailNotUsableWav,         // detail: the WavStatus
    FailEncoderRefused,       // detail: beInitStream's result
    FailReadError,            // detail: the CD sector where reading stopped
    FailEncodeError,          // detail: beEncodeChunk's or beDeinitStream's result; 0 for an
                              // encoder that asked for an impossible buffer
    FailWriteError,           // short write, disk full, or a failed flush (detail: its error)
    FailOutputCreate,         // the output (or its temporary file) cannot be created
    FailPathTooLong,          // the output path would not fit in MAX_PATH
    FailOutOfMemory,          // buffers could not be allocated
    FailNoDrive,              // whole CD job: the drive cannot be opened
    FailNoToc,                // whole CD job: no disc, or a table of contents that cannot be trusted
    FailTrackNotOnDisc,       // the selected track is not on the disc now in the drive
    FailOutputIsSource,       // the MP3 would replace the very file being converted
    FailFileReadError,        // detail: the byte offset in the WAV file, 0 when unknown
};

struct FailedEntry {
    char name[MAX_PATH];  // the source path, or the output name of a CD track
    EntryFailure failure;
    DWORD detail;
    FailedEntry* next;
};

class JobReport {
public:
    JobReport() : head(nullptr), tail(nullptr), count_(0), entries_(0), converted_(0), declined_(0) {}
    ~JobReport() { clear(); }
    JobReport(const JobReport&) = delete;
    JobReport& operator=(const JobReport&) = delete;

    void clear();
    void setEntryCount(unsigned entries) { entries_ = entries; }
    // Records one failure; a failure that cannot even be recorded still counts.
    void add(const char* name, EntryFailure failure, DWORD detail);

    void addConverted() { converted_++; }
    void addDeclined() { declined_++; }

    unsigned failureCount() const { return count_; }
    unsigned convertedCount() const { return converted_; }
    unsigned declinedCount() const { return declined_; }
    unsigned entryCount() const { return entries_; }
    const FailedEntry* first() const { return head; }

private:
    FailedEntry* head;
    FailedEntry* tail;
    unsigned count_;
    unsigned entries_;
    unsigned converted_;
    unsigned declined_;
};

// The reason in the program's own words, for the finish page.
void describeFailure(const FailedEntry* entry, char* text, int capacity);
