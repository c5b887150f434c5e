// What lame_enc.dll makes of its helper's answer to a new stream, fed with
// damaged copies of real answers.
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

// An accepted answer gives buffers that hold what one call may return, the
// flush included, and never more unread replies than the helper's FIFO holds.
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
    if (plan.outputSize < (uint64_t)plan.depth * plan.maxChunkBytes + flushBytes) fail("output size");
    if (plan.depth > 1 && (uint64_t)(plan.depth + 1) * plan.maxChunkBytes > reply.answer.fifoBytes) {
        fail("more unread replies than the FIFO holds");
    }
    return true;
}
FUZZ_ENTRY(checkOne)

#ifndef CALBRUNE_LIBFUZZER
static std::vector<unsigned char> seed(uint32_t samples, uint32_t maxBytes, uint32_t fifo, uint32_t channels) {
    Reply reply = {0, sizeof(HelperInitReply), {samples, maxBytes, fifo, channels}};
    return std::vector<unsigned char>((unsigned char*)&reply, (unsigned char*)(&reply + 1));
}

// Answers the helper gives: MPEG-1 stereo and mono, MPEG-2 mono.
int main(int argc, char** argv) {
    Seeds seeds = {seed(2304, 8640, 262144, 2), seed(1152, 5328, 65536, 1), seed(576, 3168, 65536, 1)};
    return fuzzRun(argc, argv, "answers", seeds, sizeof(Reply), checkOne);
}
#endif
