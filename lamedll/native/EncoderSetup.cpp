#include "lamedll/native/EncoderSetup.h"

// The record's preset numbers (0 normal ... 5 very high, the named presets
// from 6, the old profiles from 1000).
static void applyPreset(lame_global_flags* flags, int32_t preset) {
    switch (preset) {
    case 1: lame_set_quality(flags, 9); break;
    case 2: lame_set_quality(flags, 2); break;
    case 3:
    case 5000:
        lame_set_mode(flags, MONO);
        lame_set_preset(flags, 56);
        break;
    case 4: lame_set_preset(flags, R3MIX); break;
    case 5: lame_set_quality(flags, 0); break;
    case 6: lame_set_preset(flags, STANDARD); break;
    case 7: lame_set_preset(flags, STANDARD_FAST); break;
    case 8: lame_set_preset(flags, EXTREME); break;
    case 9: lame_set_preset(flags, EXTREME_FAST); break;
    case 10: lame_set_preset(flags, INSANE); break;
    case 13: lame_set_preset(flags, MEDIUM); break;
    case 14: lame_set_preset(flags, MEDIUM_FAST); break;
    case 1000:
        lame_set_mode(flags, MONO);
        lame_set_preset(flags, 16);
        break;
    case 2000:
        lame_set_mode(flags, MONO);
        lame_set_preset(flags, 24);
        break;
    case 3000:
        lame_set_mode(flags, MONO);
        lame_set_preset(flags, 40);
        break;
    case 4000:
    case 6000:
    case 7000: lame_set_preset(flags, 112); break;
    case 8000: lame_set_preset(flags, 160); break;
    case 9000: lame_set_preset(flags, 192); break;
    case 10000: lame_set_preset(flags, 256); break;
    default: break;
    }
}

static int clampKbps(int kbps) {
    if (kbps > 320) {
        return 320;
    }
    return kbps < 8 ? 8 : kbps;
}

static uint32_t applyChannelsAndRate(lame_global_flags* flags, const EncoderRecord& record) {
    switch (record.nMode) {
    case 0:
        lame_set_mode(flags, STEREO);
        lame_set_num_channels(flags, 2);
        break;
    case 1:
        lame_set_mode(flags, JOINT_STEREO);
        lame_set_num_channels(flags, 2);
        break;
    case 2:
        // LAME has no working dual channel mode; the library forces M/S stereo.
        lame_set_force_ms(flags, 1);
        lame_set_mode(flags, STEREO);
        lame_set_num_channels(flags, 2);
        break;
    case 3:
        lame_set_mode(flags, MONO);
        lame_set_num_channels(flags, 1);
        break;
    default: return replyInvalidParameters;
    }
    if (record.bEnableVBR) {
        lame_set_VBR_q(flags, record.nVBRQuality);
        switch (record.nVbrMethod) {
        case -1: lame_set_VBR(flags, vbr_off); break;
        case 0: lame_set_VBR(flags, vbr_default); break;
        case 1: lame_set_VBR(flags, vbr_rh); break;
        case 2:
        case 3: lame_set_VBR(flags, vbr_mtrh); break;
        case 4: lame_set_VBR(flags, vbr_abr); break;
        default: return replyInvalidParameters;
        }
    } else {
        lame_set_VBR(flags, vbr_off);
    }
    lame_set_brate(flags, (int)record.dwBitrate);
    // An average bitrate turns ABR on whatever the method says.
    if (record.dwVbrAbr_bps > 0) {
        lame_set_VBR(flags, vbr_abr);
        lame_set_VBR_mean_bitrate_kbps(flags, clampKbps((int)((record.dwVbrAbr_bps + 500) / 1000)));
    }
    return 0;
}

uint32_t configureEncoder(lame_global_flags* flags, const EncoderRecord& record) {
    lame_set_in_samplerate(flags, (int)record.dwSampleRate);
    lame_set_bWriteVbrTag(flags, 0);
    if (record.nPreset == 11) {
        lame_set_preset(flags, clampKbps((int)(record.dwVbrAbr_bps / 1000)));
    }
    if (record.nPreset == 12) {
        lame_set_preset(flags, (int)record.dwBitrate);
        lame_set_VBR(flags, vbr_off);
    }
    // The named presets (6 and up) bring their own mode and bitrates.
    if (record.nPreset < 6) {
        uint32_t result = applyChannelsAndRate(flags, record);
        if (result != 0) {
            return result;
        }
    }
    applyPreset(flags, record.nPreset);
    if (record.dwReSampleRate > 0) {
        lame_set_out_samplerate(flags, (int)record.dwReSampleRate);
    }
    if (record.nMode == 3) {
        lame_set_mode(flags, MONO);
        lame_set_num_channels(flags, 1);
    }
    lame_set_strict_ISO(flags, record.bStrictIso ? 1 : 0);
    if (record.bCopyright) {
        lame_set_copyright(flags, 1);
    }
    lame_set_original(flags, record.bOriginal ? 1 : 0);
    lame_set_error_protection(flags, record.bCRC ? 1 : 0);
    lame_set_extension(flags, record.bPrivate ? 1 : 0);
    if (record.dwBitrate > 0) {
        lame_set_VBR_min_bitrate_kbps(flags, (int)record.dwBitrate);
    }
    if (record.dwMaxBitrate > 0) {
        lame_set_VBR_max_bitrate_kbps(flags, (int)record.dwMaxBitrate);
    }
    if (record.bNoRes) {
        lame_set_disable_reservoir(flags, 1);
    }
    lame_set_bWriteVbrTag(flags, record.bWriteVBRHeader ? 1 : 0);
    // A quality override counts only with its complement in the high byte.
    if ((record.nQuality & 0xFF) == ((~(record.nQuality >> 8)) & 0xFF)) {
        lame_set_quality(flags, record.nQuality & 0xFF);
    }
    if (lame_init_params(flags) != 0) {
        return replyInvalidParameters;
    }
    return 0;
}

uint32_t maxBytesPerChunk(lame_global_flags* flags, uint32_t samplesPerChunk) {
    uint64_t perChannel = samplesPerChunk / (uint32_t)lame_get_num_channels(flags);
    uint64_t inRate = (uint64_t)lame_get_in_samplerate(flags);
    uint64_t outRate = (uint64_t)lame_get_out_samplerate(flags);
    uint64_t encoded = outRate > inRate ? (perChannel * outRate + inRate - 1) / inRate : perChannel;
    return (uint32_t)((encoded * 5 + 3) / 4 + 7200);
}
