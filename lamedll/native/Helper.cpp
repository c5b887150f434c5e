// The native half of lame_enc.dll: encodes what the DLL sends through two
// FIFOs in a folder the DLL made for it, and ends when the DLL goes away.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "lamedll/native/EncoderSetup.h"

static char folderPath[4096];
static char inputPath[4200];
static char outputPath[4200];
// Only what we made is removed: a folder found in our place is not ours.
static volatile sig_atomic_t madeFolder;

static void removeFifos() {
    if (madeFolder) {
        unlink(inputPath);
        unlink(outputPath);
        rmdir(folderPath);
    }
}

// A DLL that never connects must not leave us waiting in open().
static void onConnectTimeout(int) {
    removeFifos();
    _exit(3);
}

static int readAll(int fd, void* data, size_t size) {
    char* at = (char*)data;
    while (size > 0) {
        ssize_t got = read(fd, at, size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return 0;
        }
        at += got;
        size -= (size_t)got;
    }
    return 1;
}

static int writeAll(int fd, const void* data, size_t size) {
    const char* at = (const char*)data;
    while (size > 0) {
        ssize_t put = write(fd, at, size);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return 0;
        }
        at += put;
        size -= (size_t)put;
    }
    return 1;
}

// Header and payload in one write, so the DLL's reads find whole replies.
static int reply(int fd, std::vector<unsigned char>& message, uint32_t status, uint32_t size) {
    HelperReply header = {status, size};
    memcpy(message.data(), &header, sizeof header);
    return writeAll(fd, message.data(), sizeof header + size);
}

static int isOurs(int fd, mode_t type, mode_t mode) {
    struct stat status;
    return fstat(fd, &status) == 0 && (status.st_mode & S_IFMT) == type &&
           (status.st_mode & 07777) == mode && status.st_uid == getuid();
}

static int openFifo(int folder, const char* name, int flags) {
    int fd = openat(folder, name, flags | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 && !isOurs(fd, S_IFIFO, 0600)) {
        close(fd);
        return -1;
    }
    return fd;
}

// The folder is made here, private from the start, and one already there
// under that name (planted, or left over) is refused, never reused. Then
// "out", the ready byte and the nonce, and only then "in": the DLL writes
// nothing until the nonce has shown it that these FIFOs are ours.
static int connect(const char* nonce, int* input, int* output) {
    umask(077);
    if (mkdir(folderPath, 0700) != 0) {
        return 0;
    }
    madeFolder = 1;
    int folder = open(folderPath, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0 || !isOurs(folder, S_IFDIR, 0700) || mkfifoat(folder, "out", 0600) != 0 ||
        mkfifoat(folder, "in", 0600) != 0) {
        if (folder >= 0) {
            close(folder);
        }
        return 0;
    }
    signal(SIGALRM, onConnectTimeout);
    alarm(10);
    char ready[1 + helperNonceLength];
    ready[0] = helperReadyByte;
    memcpy(ready + 1, nonce, helperNonceLength);
    *output = openFifo(folder, "out", O_WRONLY);
    int told = *output >= 0 && writeAll(*output, ready, sizeof ready);
    *input = told ? openFifo(folder, "in", O_RDONLY) : -1;
    alarm(0);
    close(folder);
    return *input >= 0;
}

// Larger FIFOs let the DLL leave more replies unread between its waits.
static uint32_t enlargeFifos(int input, int output) {
    fcntl(input, F_SETPIPE_SZ, 1 << 18);
    fcntl(output, F_SETPIPE_SZ, 1 << 18);
    int in = fcntl(input, F_GETPIPE_SZ);
    int out = fcntl(output, F_GETPIPE_SZ);
    int smaller = in < out ? in : out;
    return smaller > 0 ? (uint32_t)smaller : 4096;
}

static int serve(int input, int output) {
    HelperRequest request;
    int heard = readAll(input, &request, sizeof request);
    // Wine may still be looking the FIFOs up by name after opening them, so
    // they go only once the DLL has spoken.
    removeFifos();
    if (!heard || request.kind != RequestInit || request.size != sizeof(EncoderRecord)) {
        return 1;
    }
    EncoderRecord record;
    if (!readAll(input, &record, sizeof record)) {
        return 1;
    }
    lame_global_flags* flags = lame_init();
    std::vector<unsigned char> message(sizeof(HelperReply) + sizeof(HelperInitReply));
    if (!flags) {
        reply(output, message, replyNoEncoder, 0);
        return 1;
    }
    uint32_t status = configureEncoder(flags, record);
    if (status != 0) {
        reply(output, message, status, 0);
        lame_close(flags);
        return 1;
    }
    HelperInitReply answer;
    answer.samplesPerChunk = (lame_get_version(flags) == 0 ? 576u : 1152u) *
                             (uint32_t)lame_get_num_channels(flags);
    answer.maxChunkBytes = maxBytesPerChunk(flags, answer.samplesPerChunk);
    answer.fifoBytes = enlargeFifos(input, output);
    answer.channels = (uint32_t)lame_get_num_channels(flags);
    memcpy(message.data() + sizeof(HelperReply), &answer, sizeof answer);
    if (!reply(output, message, 0, sizeof answer)) {
        lame_close(flags);
        return 1;
    }

    int channels = lame_get_num_channels(flags);
    std::vector<short> samples(answer.samplesPerChunk);
    message.resize(sizeof(HelperReply) + answer.maxChunkBytes + flushBytes);
    unsigned char* mp3 = message.data() + sizeof(HelperReply);
    int ok = 1;
    while (ok && readAll(input, &request, sizeof request)) {
        int produced = -1;
        if (request.kind == RequestEncode) {
            if (request.size > samples.size() * sizeof(short) ||
                !readAll(input, samples.data(), request.size)) {
                break;
            }
            int perChannel = (int)(request.size / sizeof(short)) / channels;
            if (channels == 1) {
                produced = lame_encode_buffer(flags, samples.data(), samples.data(), perChannel, mp3,
                                              (int)answer.maxChunkBytes);
            } else {
                produced = lame_encode_buffer_interleaved(flags, samples.data(), perChannel, mp3,
                                                          (int)answer.maxChunkBytes);
            }
        } else if (request.kind == RequestFlush) {
            produced = lame_encode_flush(flags, mp3, (int)flushBytes);
        } else if (request.kind == RequestTagFrame) {
            size_t size = lame_get_lametag_frame(flags, mp3, answer.maxChunkBytes);
            produced = size > 0 && size <= answer.maxChunkBytes ? (int)size : -1;
        } else {
            break;
        }
        // The library reports any encoder failure as a buffer too small.
        ok = produced < 0 ? reply(output, message, replyEncoderFailed, 0)
                          : reply(output, message, 0, (uint32_t)produced);
    }
    lame_close(flags);
    return 0;
}

int main(int argc, char** argv) {
    (void)argv;
    const char* folder = getenv(helperFolderVariable);
    const char* nonce = getenv(helperNonceVariable);
    if (argc != 1 || !folder || strlen(folder) >= sizeof folderPath || !nonce ||
        strlen(nonce) != (size_t)helperNonceLength) {
        fprintf(stderr, "usage: %s=FOLDER %s=NONCE lame_enc_helper\n", helperFolderVariable,
                helperNonceVariable);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    snprintf(folderPath, sizeof folderPath, "%s", folder);
    snprintf(inputPath, sizeof inputPath, "%s/in", folderPath);
    snprintf(outputPath, sizeof outputPath, "%s/out", folderPath);
    int input = -1;
    int output = -1;
    if (!connect(nonce, &input, &output)) {
        removeFifos();
        return 1;
    }
    return serve(input, output);
}
