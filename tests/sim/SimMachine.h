// A simulated machine behind the CD device layer: drive letters, discs
// described by their table of contents and their audio, and faults.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

struct SimEntry {
    BYTE minutes;
    BYTE seconds;
    BYTE frames;
    bool data;  // a data track (Control 4)
};

struct SimDisc {
    int firstTrack;                // the FirstTrack byte
    int lastTrack;                 // the LastTrack byte, normally firstTrack + tracks - 1
    std::vector<SimEntry> entries; // the tracks, then the lead-out
    // Audio of the sectors from audioSector on; any other sector holds a
    // pattern made from its number.
    std::vector<BYTE> audio;
    DWORD audioSector;
};

// Tracks of the given lengths in sectors, the first at sector firstSector.
SimDisc simDisc(int firstTrack, const std::vector<DWORD>& trackSectors, DWORD firstSector = 0);
// One track per WAV file (16-bit stereo at 44100 Hz), each padded with
// silence to whole sectors; an empty disc when a file is not usable.
SimDisc simDiscFromWavs(const std::vector<std::string>& paths, int firstTrack = 1);
void simSetEntry(SimDisc* disc, int entry, int minutes, int seconds, int frames);
LONG simEntrySector(const SimDisc& disc, int entry);
// The bytes that a perfect read of `count` sectors from `sector` gives.
void simDiscAudio(const SimDisc& disc, DWORD sector, DWORD count, BYTE* out);
std::vector<BYTE> simTrackAudio(const SimDisc& disc, int track);

struct SimRawRead {
    LONGLONG diskOffset;
    DWORD sectorCount;
    DWORD trackMode;
    DWORD outputSize;
    bool succeeded;
};

class SimDrive {
public:
    char letter;
    UINT type;
    bool hasDisc;
    SimDisc disc;
    bool tocFails;
    bool refusesDataTracks;
    LONG failReadAt;     // a request that covers this sector fails; -1 none
    LONG shortReadAt;    // a request that covers it answers only the bytes before it, plus half a sector
    std::vector<SimRawRead> reads;
    // After each raw read request, with its number on this drive from 1.
    std::function<void(int)> afterRead;
};

// No drives, no faults, no memory limit, empty logs.
void simReset();
SimDrive* simAddDrive(char letter, UINT type = DRIVE_CDROM);
SimDrive* simDrive(char letter);
void simInsertDisc(char letter, const SimDisc& disc);
// Track buffers larger than this cannot be allocated; 0 for no limit.
void simSetMemoryLimit(SIZE_T bytes);
int simOpenVolumes();
int simTrackBuffers();
// Sets the machine up from a text such as "E;G=300,200,150;H=3/100,100"
// (a CD-ROM drive E without disc, G with three tracks, H with tracks 3 and
// 4) or "G=wav:Z:\a.wav|Z:\b.wav"; 0 when the text is not understood.
int simConfigure(const char* text);
