// A simulated machine behind the CD device layer: drives, discs by where their tracks start (each
// sector a pattern of its number), faults. It starts with the drive CALBRUNE_SIMCD describes, as
// "G=300,200": drive G, a disc of two tracks of these lengths in sectors.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

struct SimDisc {
    int firstTrack, lastTrack;   // the TOC's bytes, normally lastTrack = firstTrack + tracks - 1
    std::vector<DWORD> starts;   // sectors where the tracks start, then the lead-out; none: no disc
};

// Tracks of the given lengths in sectors, the first at sector 0.
SimDisc simDisc(int firstTrack, const std::vector<DWORD>& trackSectors);
// The bytes that a perfect read of track k gives.
std::vector<BYTE> simTrackAudio(const SimDisc& disc, int k);

struct SimDrive {
    UINT type = DRIVE_CDROM;
    SimDisc disc;
    LONG failReadAt = -1;   // a request that covers this sector fails
    LONG shortReadAt = -1;  // a request that covers it answers the sectors before it and half a sector
    DWORD tocCut = 0;       // bytes the table of contents' answer says it lacks
    std::vector<DWORD> reads;            // the sector count of each raw read
    std::function<void(int)> afterRead;  // after each raw read, with its number from 1
};

struct SimMachine {
    std::unique_ptr<SimDrive> drives[26];
    SIZE_T memoryLimit = 0;  // track buffers larger than this cannot be allocated; 0 for no limit
    int openVolumes = 0, trackBuffers = 0;
};

// `sim() = SimMachine()` leaves no drive, fault or limit.
SimMachine& sim();
// Any earlier drive of that letter is replaced.
SimDrive* simAddDrive(char letter, const SimDisc& disc = SimDisc(), UINT type = DRIVE_CDROM);
