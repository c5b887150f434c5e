#include "lamedll/StreamPlan.h"

uint32_t planStream(uint32_t status, uint32_t size, const HelperInitReply& answer, StreamPlan* plan) {
    if (status != 0) {
        return status;
    }
    // The sizes below are sums and products of these.
    if (size != sizeof answer || answer.channels < 1 || answer.channels > 2 ||
        answer.samplesPerChunk == 0 || answer.samplesPerChunk > 2304 ||
        answer.maxChunkBytes == 0 || answer.maxChunkBytes > (1u << 20)) {
        return replyInvalidParameters;
    }
    plan->samplesPerChunk = answer.samplesPerChunk;
    plan->maxChunkBytes = answer.maxChunkBytes;
    plan->channels = answer.channels;
    // Unread replies must fit in the helper's FIFO, or it would stop writing
    // while we wait to write our next chunk.
    uint32_t depth = answer.fifoBytes / answer.maxChunkBytes;
    plan->depth = depth < 2 ? 1 : depth - 1 > 8 ? 8 : depth - 1;
    // One call returns at most `depth` chunks' bytes, plus the flush at the end.
    plan->outputSize = plan->depth * answer.maxChunkBytes + flushBytes;
    return 0;
}
