// Whether a drive's answer to the table-of-contents request can be trusted:
// plain bytes, no Windows header.
#pragma once

#include <stddef.h>

// The answer's layout: a 4-byte head (length, first and last track), then
// one 8-byte entry a track and one for the lead-out, each ending in an MSF
// address (minutes, seconds, frames in its last three bytes).
const size_t tocHeadBytes = 4;
const size_t tocEntryBytes = 8;
const int tocMaxTracks = 99;
const size_t tocAnswerBytes = tocHeadBytes + 100 * tocEntryBytes;

// Sector of entry k: minutes × 4500 + seconds × 75 + frames − 150.
long tocEntrySector(const unsigned char* answer, int k);

// 1 when the answer of `returned` bytes (out of a buffer of tocAnswerBytes)
// holds 1 to 99 tracks whose entries it covers, every address an MSF
// address at or after sector 0, each after the one before.
int tocAnswerUsable(const unsigned char* answer, size_t returned);
