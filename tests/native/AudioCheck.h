// Audio for the native end-to-end tests: signals to encode, WAV files in and
// out, decoding with mpg123, and how closely the decoded audio follows.
#pragma once

#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

struct Audio {
    int rate = 0;
    int channels = 0;
    std::vector<short> samples;
    size_t frames() const { return channels ? samples.size() / channels : 0; }
    short at(size_t frame, int channel) const { return samples[frame * channels + channel]; }
};

// A sweep on the left and a different one on the right, so a swap shows.
inline Audio sweep(int rate, int channels, double seconds) {
    Audio audio{rate, channels, {}};
    for (size_t i = 0; i < (size_t)(rate * seconds); i++) {
        double t = (double)i / rate;
        audio.samples.push_back((short)(12000 * sin(2 * M_PI * (200 * t + 400 * t * t))));
        if (channels == 2) {
            audio.samples.push_back((short)(9000 * sin(2 * M_PI * (3000 * t - 250 * t * t))));
        }
    }
    return audio;
}

// Low-passed noise with a few tones: something like music, not white noise.
inline Audio musicLike(int rate, int channels, double seconds, unsigned seed) {
    Audio audio{rate, channels, {}};
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, 3000);
    double smooth[2] = {0, 0};
    for (size_t i = 0; i < (size_t)(rate * seconds); i++) {
        double t = (double)i / rate;
        for (int c = 0; c < channels; c++) {
            smooth[c] = 0.9 * smooth[c] + 0.1 * noise(random);
            double tones = 4000 * sin(2 * M_PI * (c ? 330 : 220) * t) * (1 + sin(2 * M_PI * 2 * t)) / 2;
            audio.samples.push_back((short)(smooth[c] * 3 + tones));
        }
    }
    return audio;
}

// A 16-bit PCM WAV file with a plain 44-byte header.
inline void writeWav(const std::string& path, const Audio& audio) {
    uint32_t bytes = (uint32_t)audio.samples.size() * 2, rate = (uint32_t)audio.rate;
    uint32_t sizes[] = {36 + bytes, 16, 1u | (uint32_t)audio.channels << 16, rate,
                        rate * audio.channels * 2, (uint32_t)audio.channels * 2 | 16u << 16, bytes};
    std::ofstream out(path, std::ios::binary);
    out.write("RIFF", 4).write((const char*)sizes, 4).write("WAVEfmt ", 8);
    out.write((const char*)(sizes + 1), 20).write("data", 4).write((const char*)(sizes + 6), 4).write((const char*)audio.samples.data(), bytes);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string windowsPath(std::string path) {
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return "Z:" + path;
}

// Decodes MP3 bytes with mpg123 in `folder`; mpg123 writes a 44-byte header.
inline Audio decodeMp3(const std::string& mp3, const std::string& folder) {
    std::ofstream(folder + "/decode.mp3", std::ios::binary) << mp3;
    remove((folder + "/decoded.wav").c_str());
    std::string command = "mpg123 -q -w '" + folder + "/decoded.wav' '" + folder + "/decode.mp3' 2>/dev/null";
    std::string wav = system(command.c_str()) == 0 ? readFile(folder + "/decoded.wav") : "";
    Audio audio;
    if (wav.size() >= 44) {
        audio.channels = (uint8_t)wav[22];
        memcpy(&audio.rate, wav.data() + 24, 4);
        audio.samples.resize((wav.size() - 44) / 2);
        memcpy(audio.samples.data(), wav.data() + 44, audio.samples.size() * 2);
    }
    return audio;
}

// Correlation and level ratio of one channel, `lag` frames late, over the
// first `frames` frames of the input.
inline double compare(const Audio& in, const Audio& out, int channel, size_t lag, size_t frames,
                      double* level = nullptr) {
    double xy = 0, xx = 0, yy = 0;
    for (size_t i = 0; i < in.frames() && i < frames && i + lag < out.frames(); i++) {
        double x = in.at(i, channel), y = out.at(i + lag, channel);
        xy += x * y, xx += x * x, yy += y * y;
    }
    if (level) {
        *level = xx > 0 ? sqrt(yy / xx) : 0;
    }
    return xx > 0 && yy > 0 ? xy / sqrt(xx * yy) : 0;
}

// The decoded audio has the input's rate and channels, starts late by the
// codec's delay (found over a third of a second), is as long as the input
// plus at most `slack` frames and two MP3 frames more, and follows it closely
// and at its level in every channel: audio read at the wrong scale can still
// follow closely. Returns the delay.
inline size_t expectDecodedClose(const Audio& input, const Audio& decoded, size_t slack,
                                 double minCorrelation) {
    EXPECT_EQ(input.rate, decoded.rate);
    EXPECT_EQ(input.channels, decoded.channels);
    if (input.rate != decoded.rate || input.channels != decoded.channels) {
        return 0;
    }
    size_t lag = 0;
    double best = -2;
    for (size_t l = 0; l < 3000; l++) {
        double value = compare(input, decoded, 0, l, input.rate / 3);
        lag = value > best ? (best = value, l) : lag;
    }
    EXPECT_GE(decoded.frames(), input.frames() + lag);
    EXPECT_LE(decoded.frames(), input.frames() + lag + slack + 2 * (input.rate >= 32000 ? 1152 : 576));
    for (int channel = 0; channel < input.channels; channel++) {
        double level = 0;
        EXPECT_GT(compare(input, decoded, channel, lag, SIZE_MAX, &level), minCorrelation) << "channel " << channel;
        EXPECT_TRUE(level > 0.8 && level < 1.25) << "channel " << channel << " level " << level;
    }
    return lag;
}
