#include "core/OptionTables.h"

// Values are the encoder's nMode codes; row 0 lets the input decide.
const OptionEntry channelModes[5] = {
    {-1, " Auto"},
    {0, " Stéreo"},
    {1, " Joint Stéreo"},
    {2, " Dual Channel"},
    {3, " Mono"},
};

const OptionEntry sampleRates[7] = {
    {-1, " Auto"},
    {48000, " 48 000 Hz"},
    {44100, " 44 100 Hz"},
    {32000, " 32 000 Hz"},
    {24000, " 24 000 Hz"},
    {22050, " 22 050 Hz"},
    {16000, " 16 000 Hz"},
};

// Values are the encoder's nPreset codes, listed from lowest to highest quality.
const OptionEntry qualityPresets[6] = {
    {1, " Low"},
    {3, " Voice"},
    {4, " R3Mix"},
    {0, " Normal"},
    {2, " High"},
    {5, " VeryHigh"},
};

const OptionEntry vbrMethods[5] = {
    {0, " Default"},
    {1, " OLD"},
    {2, " NEW"},
    {3, " MTRH"},
    {4, " ABR"},
};

const BitratePair bitratePairs[14] = {
    {32, 8},    {40, 16},   {48, 24},   {56, 32},   {64, 40},
    {80, 48},   {96, 56},   {112, 64},  {128, 80},  {160, 96},
    {192, 112}, {224, 128}, {256, 144}, {320, 160},
};

const int vbrBitrates[18] = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                             96, 112, 128, 144, 160, 192, 224, 256, 320};
