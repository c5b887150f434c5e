// What lame_enc.dll makes of its helper's answer to a new stream, fed with
// damaged copies of real answers under the sanitizers. Built as a libFuzzer
// target too when the compiler offers it.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "lamedll/StreamPlan.h"
#include "tests/native/FuzzRun.h"

struct Reply {
    uint32_t status;
    uint32_t size;
    HelperInitReply answer;
};

static void fail(const char* what) {
    fprintf(stderr, "accepted answer: %s\n", what);
    abort();
}

// An accepted answer gives buffers that hold what one call may return, and
// never more unread replies than the helper's FIFO holds.
static bool checkOne(const unsigned char* data, size_t size) {
    Reply reply = {};
    memcpy(&reply, data, size < sizeof reply ? size : sizeof reply);
    StreamPlan plan;
    if (planStream(reply.status, reply.size, reply.answer, &plan) != 0) {
        return false;
    }
    if (plan.channels < 1 || plan.channels > 2) fail("channels");
    if (plan.samplesPerChunk < 1 || plan.samplesPerChunk > 2304) fail("chunk");
    if (plan.depth < 1 || plan.depth > 8) fail("depth");
    if (plan.outputSize != (uint64_t)plan.depth * plan.maxChunkBytes + flushBytes) fail("output size");
    if (plan.depth > 1 && (uint64_t)(plan.depth + 1) * plan.maxChunkBytes > reply.answer.fifoBytes) {
        fail("more unread replies than the FIFO holds");
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    checkOne(data, size);
    return 0;
}

#ifndef CALBRUNE_LIBFUZZER
static std::vector<unsigned char> seed(uint32_t samples, uint32_t maxBytes, uint32_t fifo,
                                       uint32_t channels) {
    Reply reply = {0, sizeof(HelperInitReply), {samples, maxBytes, fifo, channels}};
    const unsigned char* bytes = (const unsigned char*)&reply;
    return std::vector<unsigned char>(bytes, bytes + sizeof reply);
}

int main(int argc, char** argv) {
    // Answers the helper gives: MPEG-1 stereo and mono, MPEG-2 mono.
    Seeds seeds = {
        seed(2304, 8640, 262144, 2), seed(1152, 5328, 65536, 1), seed(576, 3168, 65536, 1)};
    int written = writeSeedsIfAsked(argc, argv, seeds);
    if (written >= 0) {
        return written;
    }
    long rounds = argc > 1 ? atol(argv[1]) : 200000;
    Damage next;
    long usable = 0;
    for (long round = 0; round < rounds; round++) {
        std::vector<unsigned char> b = seeds[next() % seeds.size()];
        for (int i = 0, changes = 1 + next() % 3; i < changes; i++) {
            size_t at = next() % b.size();
            b[at] = next() % 2 ? (unsigned char)next() : (unsigned char)(b[at] ^ (1u << (next() % 8)));
        }
        usable += checkOne(b.data(), next() % 8 == 0 ? next() % b.size() : b.size());
    }
    return closeRun("answers", rounds, usable);
}
#endif
