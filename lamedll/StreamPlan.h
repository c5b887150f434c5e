// What lame_enc.dll makes of its helper's answer to a new stream: plain
// arithmetic on the reply, with no Windows header, so that it is also built
// natively, where it is fuzzed.
#pragma once

#include <stdint.h>

#include "lamedll/Protocol.h"

struct StreamPlan {
    uint32_t samplesPerChunk;
    uint32_t maxChunkBytes;
    uint32_t channels;
    uint32_t depth;       // chunks handed over before their replies are collected
    uint32_t outputSize;  // the most one call returns
};

// 0 with `plan` filled when the reply (`status`, then `size` bytes of
// `answer`) can be trusted; otherwise the error the stream fails with.
uint32_t planStream(uint32_t status, uint32_t size, const HelperInitReply& answer, StreamPlan* plan);
