#include "cdrom/TocCheck.h"

long tocEntrySector(const unsigned char* answer, int k) {
    const unsigned char* address = answer + tocHeadBytes + k * tocEntryBytes + 4;
    return address[1] * 4500L + address[2] * 75L + address[3] - 150L;
}

static bool isMsfAddress(const unsigned char* answer, int k) {
    const unsigned char* address = answer + tocHeadBytes + k * tocEntryBytes + 4;
    return address[1] <= 99 && address[2] < 60 && address[3] < 75;
}

int tocAnswerUsable(const unsigned char* answer, size_t returned) {
    if (!answer || returned < tocHeadBytes || returned > tocAnswerBytes) {
        return 0;
    }
    int first = answer[2], last = answer[3];
    if (last < first || last - first + 1 > tocMaxTracks) {
        return 0;
    }
    int count = last - first + 1;
    if (returned < tocHeadBytes + (count + 1) * tocEntryBytes) {
        return 0;
    }
    for (int k = 0; k <= count; k++) {
        if (!isMsfAddress(answer, k) || tocEntrySector(answer, k) < 0) {
            return 0;
        }
        if (k > 0 && tocEntrySector(answer, k) <= tocEntrySector(answer, k - 1)) {
            return 0;
        }
    }
    return 1;
}
