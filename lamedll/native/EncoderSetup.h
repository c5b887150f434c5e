// Turns a configuration record into LAME settings, as the Windows library
// does it, so that its callers hear what they always heard.
#pragma once

#include <lame/lame.h>

#include "lamedll/Protocol.h"

// Returns a BE_ERR value: 0 when the encoder is ready.
uint32_t configureEncoder(lame_global_flags* flags, const EncoderRecord& record);

// Samples per channel times the rate change, with LAME's own margin.
uint32_t maxBytesPerChunk(lame_global_flags* flags, uint32_t samplesPerChunk);
