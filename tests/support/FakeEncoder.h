// An encoder library inside the test program, which install() gives a Converter. It counts its
// calls, fails where told, and its "MP3" bytes are the samples it was given, then "END" at the
// flush. Like LAME's DLL, it hands out a stream even when it refuses the record, and keeps a
// closed stream that asked for the VBR header until that is written.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/Converter.h"


namespace fakeEncoder {
// Also forgets earlier calls and planned failures.
void install(Converter& c);
// "init", "encode:K" (the K-th chunk of a stream), "deinit" or "vbrheader";
// "samples:N" asks for N samples a chunk.
void failAt(const char* what);
// Calls made: init, encode, deinit, close, vbrheader, free (lame_close).
size_t count(const char* kind);
// The record's nMode at each init, one digit each.
std::string modes();
// Streams handed out and not yet freed.
int streamsAlive();
// Runs on the worker's thread at every chunk, before it is encoded.
extern std::function<void()> beforeChunk;
}  // namespace fakeEncoder
