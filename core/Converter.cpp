#include "core/Converter.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <stdlib.h>
#include <string.h>

#include "core/OptionTables.h"

// A file of a name of its own is made there, then deleted.
static int canCreateFileIn(const char* folder) {
    char probe[MAX_PATH];
    if (!GetTempFileNameA(folder, "cb", 0, probe)) {
        return 0;
    }
    DeleteFileA(probe);
    return 1;
}

int (*folderWritable)(const char* folder) = canCreateFileIn;

Converter converter;

SourceFileNode* SourceFileList::append(const char* path) {
    SourceFileNode* node = (SourceFileNode*)calloc(1, sizeof(SourceFileNode));
    if (!node) {
        return nullptr;
    }
    if (path) {
        // Copy up to the terminator only: callers pass literals and short
        // buffers as well as full MAX_PATH ones.
        lstrcpynA(node->path, path, MAX_PATH);
    }
    node->prev = tail;
    if (tail) {
        tail->next = node;
    } else {
        head = node;
    }
    tail = node;
    return node;
}

void SourceFileList::remove(SourceFileNode* node) {
    if (!node) {
        return;
    }
    if (node->prev) {
        node->prev->next = node->next;
    } else {
        head = node->next;
    }
    if (node->next) {
        node->next->prev = node->prev;
    } else {
        tail = node->prev;
    }
    free(node);
}

unsigned SourceFileList::count() const {
    unsigned n = 0;
    for (SourceFileNode* node = head; node; node = node->next) {
        n++;
    }
    return n;
}

SourceFileNode* SourceFileList::nodeAt(unsigned n) const {
    SourceFileNode* seen = nullptr;
    SourceFileNode* node = head;
    for (unsigned position = 0; node && position <= n; position++) {
        seen = node;
        node = node->next;
    }
    return seen;
}

void SourceFileList::clear() {
    SourceFileNode* node = head;
    while (node) {
        SourceFileNode* next = node->next;
        free(node);
        node = next;
    }
    head = nullptr;
    tail = nullptr;
}

TrackNode* TrackList::append(const int* trackIndex) {
    TrackNode* node = (TrackNode*)calloc(1, sizeof(TrackNode));
    if (!node) {
        return nullptr;
    }
    node->trackIndex = trackIndex ? *trackIndex : 0;
    node->prev = tail;
    if (tail) {
        tail->next = node;
    } else {
        head = node;
    }
    tail = node;
    return node;
}

unsigned TrackList::count() const {
    unsigned n = 0;
    for (TrackNode* node = head; node; node = node->next) {
        n++;
    }
    return n;
}

void TrackList::clear() {
    TrackNode* node = head;
    while (node) {
        TrackNode* next = node->next;
        free(node);
        node = next;
    }
    head = nullptr;
    tail = nullptr;
}

Converter::Converter()
    : beInitStream(nullptr),
      beCloseStream(nullptr),
      beEncodeChunk(nullptr),
      beDeinitStream(nullptr),
      beWriteVBRHeader(nullptr),
      beVersion(nullptr),
      lameClose(nullptr),
      encoderLibrary(nullptr),
      jobDoneMessage_(WM_USER),
      workerThread_(nullptr),
      jobRunning_(0),
      fileProgressBar_(nullptr),
      totalProgressBar_(nullptr),
      fileProgressLabel_(nullptr),
      totalProgressLabel_(nullptr),
      sourceKind_(0),
      saveBesideSource_(1),
      replaceWithoutAsking_(0),
      convertChannels_(0),
      inputSamples_(InputS16),
      closeWhenDone_(1),
      privateBit_(0),
      originalBit_(1),
      copyrightBit_(0),
      vbrEnabled_(0),
      channelModeIndex_(0),
      bitrateIndex_(8),
      sampleRateIndex_(0),
      qualityIndex_(3),
      vbrMethodIndex_(0),
      vbrMinBitrateIndex_(3),
      vbrMaxBitrateIndex_(17),
      vbrQuality_(4),
      abrBitrate_(128),
      ownerWindow_(nullptr) {
    // The program's own folder, where the user put it; where no file can be
    // made there (installed under Program Files, say), the user's Music
    // folder, wherever the user has moved it.
    GetModuleFileNameA(GetModuleHandleA(nullptr), destinationFolder_, MAX_PATH);
    destinationFolder_[MAX_PATH - 1] = '\0';
    PathRemoveFileSpecA(destinationFolder_);
    char music[MAX_PATH];
    if (!folderWritable(destinationFolder_) &&
        SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_MYMUSIC, nullptr, SHGFP_TYPE_CURRENT, music))) {
        lstrcpyA(destinationFolder_, music);
    }
    cdDevicePath_[0] = '\0';
}

// The lists free their nodes; the library is unloaded by WinMain and the
// worker's handle belongs to the finish page.
Converter::~Converter() {}

void Converter::setDestinationFolder(const char* folder) {
    if (folder) {
        lstrcpynA(destinationFolder_, folder, MAX_PATH);
    }
}

void Converter::setCdDevicePath(const char* path) {
    if (path) {
        lstrcpynA(cdDevicePath_, path, sizeof(cdDevicePath_));
    }
}

int Converter::channelModeValue() const {
    return channelModes[channelModeIndex_].value;
}

int Converter::outputSampleRate() const {
    return sampleRates[sampleRateIndex_].value;
}

int Converter::qualityPresetValue() const {
    return qualityPresets[qualityIndex_].value;
}

int Converter::vbrMethodValue() const {
    return vbrMethods[vbrMethodIndex_].value;
}

int Converter::vbrMinBitrate() const {
    return vbrBitrates[vbrMinBitrateIndex_];
}

int Converter::vbrMaxBitrate() const {
    return vbrBitrates[vbrMaxBitrateIndex_];
}

int Converter::cbrBitrate(int mpegVersion) const {
    const BitratePair& pair = bitratePairs[bitrateIndex_];
    return mpegVersion == 1 ? pair.mpeg1Kbps : pair.mpeg2Kbps;
}

int Converter::buildOutputPath(char* out, const char* sourcePath) const {
    if (!out || !sourcePath) {
        return 0;
    }
    int fits;
    if (saveBesideSource_ && sourceKind_ == 0) {
        fits = lstrlenA(sourcePath) < MAX_PATH;
        lstrcpynA(out, sourcePath, MAX_PATH);
    } else {
        lstrcpynA(out, destinationFolder_, MAX_PATH);
        fits = PathAppendA(out, PathFindFileNameA(sourcePath));
    }
    // Both shell calls refuse, rather than cut, a result longer than MAX_PATH.
    if (!fits || !PathRenameExtensionA(out, ".mp3")) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}
