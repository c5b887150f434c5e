// The one object that holds the wizard's choices, the source lists, the
// encoder library's entry points and the state of the running job.
#pragma once

#include <windows.h>

#include <atomic>

#include "core/LameApi.h"
#include "core/WavHeader.h"

struct SourceFileNode {
    char path[MAX_PATH];
    SourceFileNode* prev;
    SourceFileNode* next;
};

class SourceFileList {
public:
    SourceFileList() : head(nullptr), tail(nullptr) {}
    ~SourceFileList() { clear(); }
    SourceFileList(const SourceFileList&) = delete;
    SourceFileList& operator=(const SourceFileList&) = delete;

    SourceFileNode* append(const char* path);
    void remove(SourceFileNode* node);
    unsigned count() const;
    SourceFileNode* first() const { return head; }
    SourceFileNode* last() const { return tail; }
    SourceFileNode* next(SourceFileNode* node) const { return node ? node->next : head; }
    SourceFileNode* nodeAt(unsigned n) const;
    void clear();

private:
    SourceFileNode* head;
    SourceFileNode* tail;
};

struct TrackNode {
    int trackIndex;
    TrackNode* prev;
    TrackNode* next;
};

class TrackList {
public:
    TrackList() : head(nullptr), tail(nullptr) {}
    ~TrackList() { clear(); }
    TrackList(const TrackList&) = delete;
    TrackList& operator=(const TrackList&) = delete;

    TrackNode* append(const int* trackIndex);
    unsigned count() const;
    TrackNode* first() const { return head; }
    TrackNode* last() const { return tail; }
    TrackNode* next(TrackNode* node) const { return node ? node->next : head; }
    void clear();

private:
    TrackNode* head;
    TrackNode* tail;
};

class Converter {
public:
    Converter();
    ~Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    SourceFileList sourceFiles;
    TrackList selectedTracks;

    BEINITSTREAM beInitStream;
    BECLOSESTREAM beCloseStream;
    BEENCODECHUNK beEncodeChunk;
    BEDEINITSTREAM beDeinitStream;
    BEWRITEVBRHEADER beWriteVBRHeader;
    BEVERSION beVersion;
    LAMECLOSE lameClose;
    HMODULE encoderLibrary;

    // Encoder library.
    int loadEncoder();
    void unloadEncoder();
    int encoderAvailable() const { return encoderLibrary != nullptr; }
    int prepareEncoderConfig(BE_CONFIG* config, DWORD* dataSize, HANDLE wavFile,
                             WavStatus* status = nullptr);

    // Chunk readers.
    DWORD readFileChunk(HANDLE file, DWORD* consumed, DWORD total, SHORT* out, DWORD n,
                        const BE_CONFIG* config);
    DWORD readBufferChunk(const BYTE* buffer, DWORD* position, DWORD total, SHORT* out,
                          DWORD n, const BE_CONFIG* config);

    // Sample conversions: pure, from one buffer into another.
    static void monoToStereo(SHORT* out, const SHORT* in, DWORD count);
    static void stereoToMono(SHORT* out, const SHORT* in, DWORD count);
    static void widen8To16(SHORT* out, const BYTE* in, DWORD count);
    static void mono8ToStereo16(SHORT* out, const BYTE* in, DWORD count);
    static void stereo8ToMono16(SHORT* out, const BYTE* in, DWORD count);
    // Little-endian samples narrowed to 16 bits: `count` samples of 3, 4 and
    // 4 bytes, rounded half up and clamped, never wrapped.
    static void narrow24To16(SHORT* out, const BYTE* in, DWORD count);
    static void narrow32To16(SHORT* out, const BYTE* in, DWORD count);
    static void float32To16(SHORT* out, const BYTE* in, DWORD count);

    // How the current input stores its samples; prepareEncoderConfig sets it,
    // the chunk readers convert from it.
    enum InputSamples { InputU8, InputS16, InputS24, InputS32, InputF32 };
    int inputSamples() const { return inputSamples_; }

    // Names the MP3 file for a WAV path or a CD track's file name; returns 0
    // (and an empty `out`) when the result would not fit in MAX_PATH.
    int buildOutputPath(char* out, const char* sourcePath) const;

    // Jobs.
    int startJob(HWND fileProgressBar, HWND totalProgressBar, HWND fileProgressLabel,
                 HWND totalProgressLabel, UINT jobDoneMessage);
    void closeWorkerThread();
    // Non-zero from the worker's creation until closeWorkerThread, which the
    // finish page calls on receiving the end message: a cancelled worker is
    // still at work until then, and the job's report is still its own.
    int workerExists() const { return workerThread_ != nullptr; }

    // Settings.
    int sourceKind() const { return sourceKind_; }
    void setSourceKind(int value) { sourceKind_ = value; }
    int saveBesideSource() const { return saveBesideSource_; }
    void setSaveBesideSource(int value) { saveBesideSource_ = value; }
    int replaceWithoutAsking() const { return replaceWithoutAsking_; }
    void setReplaceWithoutAsking(int value) { replaceWithoutAsking_ = value; }
    int closeWhenDone() const { return closeWhenDone_; }
    void setCloseWhenDone(int value) { closeWhenDone_ = value; }
    int jobRunning() const { return jobRunning_.load(); }
    void setJobRunning(int value) { jobRunning_.store(value); }
    int privateBit() const { return privateBit_; }
    void setPrivateBit(int value) { privateBit_ = value; }
    int originalBit() const { return originalBit_; }
    void setOriginalBit(int value) { originalBit_ = value; }
    int copyrightBit() const { return copyrightBit_; }
    void setCopyrightBit(int value) { copyrightBit_ = value; }
    int vbrEnabled() const { return vbrEnabled_; }
    void setVbrEnabled(int value) { vbrEnabled_ = value; }
    int channelModeIndex() const { return channelModeIndex_; }
    void setChannelModeIndex(int value) { channelModeIndex_ = value; }
    int bitrateIndex() const { return bitrateIndex_; }
    void setBitrateIndex(int value) { bitrateIndex_ = value; }
    int sampleRateIndex() const { return sampleRateIndex_; }
    void setSampleRateIndex(int value) { sampleRateIndex_ = value; }
    int qualityIndex() const { return qualityIndex_; }
    void setQualityIndex(int value) { qualityIndex_ = value; }
    int vbrMethodIndex() const { return vbrMethodIndex_; }
    void setVbrMethodIndex(int value) { vbrMethodIndex_ = value; }
    int vbrMinBitrateIndex() const { return vbrMinBitrateIndex_; }
    void setVbrMinBitrateIndex(int value) { vbrMinBitrateIndex_ = value; }
    int vbrMaxBitrateIndex() const { return vbrMaxBitrateIndex_; }
    void setVbrMaxBitrateIndex(int value) { vbrMaxBitrateIndex_ = value; }
    int vbrQuality() const { return vbrQuality_; }
    void setVbrQuality(int value) { vbrQuality_ = value; }
    int abrBitrate() const { return abrBitrate_; }
    void setAbrBitrate(int value) { abrBitrate_ = value; }
    int convertChannels() const { return convertChannels_; }
    int eightBitInput() const { return inputSamples_ == InputU8; }
    HWND ownerWindow() const { return ownerWindow_; }
    void setOwnerWindow(HWND window) { ownerWindow_ = window; }
    const char* destinationFolder() const { return destinationFolder_; }
    void setDestinationFolder(const char* folder);
    const char* cdDevicePath() const { return cdDevicePath_; }
    void setCdDevicePath(const char* path);

    // Job state, written together when a job starts.
    UINT jobDoneMessage() const { return jobDoneMessage_; }
    HANDLE workerThread() const { return workerThread_; }
    HWND fileProgressBar() const { return fileProgressBar_; }
    HWND totalProgressBar() const { return totalProgressBar_; }
    HWND fileProgressLabel() const { return fileProgressLabel_; }
    HWND totalProgressLabel() const { return totalProgressLabel_; }

    // Derived values: the table row that each index selects.
    int channelModeValue() const;
    int outputSampleRate() const;
    int qualityPresetValue() const;
    int vbrMethodValue() const;
    int vbrMinBitrate() const;
    int vbrMaxBitrate() const;
    int cbrBitrate(int mpegVersion) const;

private:
    UINT jobDoneMessage_;
    HANDLE workerThread_;
    std::atomic<int> jobRunning_;
    HWND fileProgressBar_;
    HWND totalProgressBar_;
    HWND fileProgressLabel_;
    HWND totalProgressLabel_;
    int sourceKind_;
    int saveBesideSource_;
    int replaceWithoutAsking_;
    int convertChannels_;
    int inputSamples_;
    int closeWhenDone_;
    int privateBit_;
    int originalBit_;
    int copyrightBit_;
    int vbrEnabled_;
    int channelModeIndex_;
    int bitrateIndex_;
    int sampleRateIndex_;
    int qualityIndex_;
    int vbrMethodIndex_;
    int vbrMinBitrateIndex_;
    int vbrMaxBitrateIndex_;
    int vbrQuality_;
    int abrBitrate_;
    char destinationFolder_[MAX_PATH];
    char cdDevicePath_[8];
    HWND ownerWindow_;
};

extern Converter converter;

// Every read of WAV samples goes through here; the tests put a file that is
// cut short in its place.
extern BOOL(WINAPI* readInput)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);

// Whether a file can be created in a folder; the tests put a folder that
// refuses in its place.
extern int (*folderWritable)(const char* folder);

// The caption of every message box of the program.
const char programCaption[] = "Calbrune 1.0";

// The CD format: 16-bit stereo at 44100 Hz.
extern const WavFormat cdAudioFormat;
