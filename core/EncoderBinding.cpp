#include <string.h>

#include "core/Converter.h"

const WavFormat cdAudioFormat = {1, 2, 44100, 176400, 4, 16, 0};

template <typename Entry>
static void resolve(HMODULE library, const char* name, Entry* entry) {
    *entry = (Entry)(void*)GetProcAddress(library, name);
}

// Leaves the folder the program was started from out of the search for
// DLLs: a lame_enc.dll lying there (in a downloads folder, say) must never be
// taken for the one beside the program.
static void keepCurrentFolderOutOfDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesProc)(DWORD);
    SetDefaultDllDirectoriesProc setDefault = (SetDefaultDllDirectoriesProc)(void*)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    // Windows 7 has it only with its update KB2533623.
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
        SetDllDirectoryA("");
    }
}

int Converter::loadEncoder() {
    if (!encoderLibrary) {
        keepCurrentFolderOutOfDllSearch();
        encoderLibrary = LoadLibraryA("lame_enc.dll");
    }
    if (!encoderLibrary) {
        return 0;
    }
    resolve(encoderLibrary, "beInitStream", &beInitStream);
    resolve(encoderLibrary, "beEncodeChunk", &beEncodeChunk);
    resolve(encoderLibrary, "beDeinitStream", &beDeinitStream);
    resolve(encoderLibrary, "beCloseStream", &beCloseStream);
    resolve(encoderLibrary, "beWriteVBRHeader", &beWriteVBRHeader);
    resolve(encoderLibrary, "beVersion", &beVersion);
    resolve(encoderLibrary, "lame_close", &lameClose);
    // The jobs need all four of these; a library without them is no encoder.
    if (!beInitStream || !beEncodeChunk || !beDeinitStream || !beCloseStream) {
        unloadEncoder();
        beInitStream = nullptr;
        beEncodeChunk = nullptr;
        beDeinitStream = nullptr;
        beCloseStream = nullptr;
        beWriteVBRHeader = nullptr;
        beVersion = nullptr;
        lameClose = nullptr;
        return 0;
    }
    return 1;
}

void Converter::unloadEncoder() {
    if (encoderLibrary) {
        FreeLibrary(encoderLibrary);
        encoderLibrary = nullptr;
    }
}

static uint32_t readHandle(void* context, uint64_t offset, void* buffer, uint32_t size) {
    HANDLE file = (HANDLE)context;
    LARGE_INTEGER position;
    position.QuadPart = (LONGLONG)offset;
    DWORD got = 0;
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN) ||
        !ReadFile(file, buffer, size, &got, nullptr)) {
        return 0;
    }
    return got;
}

static WavStatus readWavHeader(HANDLE file, WavInfo* info) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        return WavReadFailed;
    }
    WavStatus status = parseWavHeader(readHandle, file, (uint64_t)size.QuadPart, info);
    if (status != WavUsable) {
        return status;
    }
    LARGE_INTEGER start;
    start.QuadPart = (LONGLONG)info->dataOffset;
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return WavReadFailed;
    }
    return WavUsable;
}

// The header step has refused every other encoding.
static Converter::InputSamples inputSamplesOf(const WavFormat& format) {
    if (format.formatTag == wavFormatFloat) {
        return Converter::InputF32;
    }
    switch (format.bitsPerSample) {
    case 8:
        return Converter::InputU8;
    case 24:
        return Converter::InputS24;
    case 32:
        return Converter::InputS32;
    }
    return Converter::InputS16;
}

int Converter::prepareEncoderConfig(BE_CONFIG* config, DWORD* dataSize, HANDLE wavFile,
                                    WavStatus* status) {
    if (!config) {
        return 0;
    }
    convertChannels_ = 0;
    inputSamples_ = InputS16;
    memset(config, 0, sizeof(*config));
    config->dwConfig = BE_CONFIG_LAME;
    config->dwStructVersion = 1;
    config->dwStructSize = sizeof(BE_CONFIG);
    config->bOriginal = originalBit_;
    config->bCopyright = copyrightBit_;
    config->bPrivate = privateBit_;

    WavFormat format = cdAudioFormat;
    if (wavFile && wavFile != INVALID_HANDLE_VALUE) {
        WavInfo info;
        WavStatus read = readWavHeader(wavFile, &info);
        if (status) {
            *status = read;
        }
        if (read != WavUsable) {
            if (dataSize) {
                *dataSize = 0;
            }
            return 0;
        }
        format = info.format;
        if (dataSize) {
            *dataSize = info.dataSize;
        }
    } else if (status) {
        *status = WavUsable;
    }

    inputSamples_ = inputSamplesOf(format);
    config->dwSampleRate = format.samplesPerSec;

    DWORD outputRate = format.samplesPerSec;
    config->dwReSampleRate = 0;
    if (sampleRateIndex_ != 0 && (DWORD)outputSampleRate() != format.samplesPerSec) {
        outputRate = (DWORD)outputSampleRate();
        config->dwReSampleRate = outputRate;
    }
    config->dwMpegVersion = outputRate > 31999 ? 1 : 0;

    if (channelModeIndex_ == 0) {
        config->nMode = format.channels == 2 ? BE_MP3_MODE_JSTEREO : BE_MP3_MODE_MONO;
    } else {
        config->nMode = channelModeValue();
        bool monoOutput = config->nMode == BE_MP3_MODE_MONO;
        bool monoInput = format.channels == 1;
        convertChannels_ = monoOutput != monoInput ? 1 : 0;
    }

    config->bEnableVBR = vbrEnabled_;
    if (vbrEnabled_) {
        // Without the header, players take a VBR file's length and seek
        // points from its first frame's bitrate. A library that cannot write
        // it would leave the frame it reserves for it blank, and LAME's keeps
        // such a stream until the header is written, so a stream that ends
        // without one must be freed by lame_close.
        config->bWriteVBRHeader = beWriteVBRHeader && lameClose ? 1 : 0;
        config->dwBitrate = (DWORD)vbrMinBitrate();
        config->dwMaxBitrate = (DWORD)vbrMaxBitrate();
        config->nVbrMethod = vbrMethodValue();
        if (config->nVbrMethod == 4) {
            config->dwVbrAbr_bps = (DWORD)abrBitrate_ * 1000;
        } else {
            config->nVBRQuality = vbrQuality_;
        }
    } else {
        config->dwBitrate = (DWORD)cbrBitrate((int)config->dwMpegVersion);
        config->dwMaxBitrate = 0;
        config->nVbrMethod = -1;
    }
    config->nPreset = qualityPresetValue();
    return 1;
}
