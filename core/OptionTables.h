// Constant tables that the settings index into; shared by the core and the
// encoder options page.
#pragma once

struct OptionEntry {
    int value;
    char label[20];
};

struct BitratePair {
    int mpeg1Kbps;
    int mpeg2Kbps;
};

extern const OptionEntry channelModes[5];
extern const OptionEntry sampleRates[7];
extern const OptionEntry qualityPresets[6];
extern const OptionEntry vbrMethods[5];
extern const BitratePair bitratePairs[14];
extern const int vbrBitrates[18];
