// Audio for the native end-to-end tests: signals to encode, WAV files in
// and out, decoding with mpg123, and how close the decoded audio comes.
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
};

// A sweep on the left and a different one on the right, so a swap shows.
inline Audio sweep(int rate, int channels, double seconds) {
    Audio audio{rate, channels, {}};
    size_t frames = (size_t)(rate * seconds);
    for (size_t i = 0; i < frames; i++) {
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
    size_t frames = (size_t)(rate * seconds);
    for (size_t i = 0; i < frames; i++) {
        double t = (double)i / rate;
        for (int c = 0; c < channels; c++) {
            smooth[c] = 0.9 * smooth[c] + 0.1 * noise(random);
            double tones = 4000 * sin(2 * M_PI * (c ? 330 : 220) * t) * (1 + sin(2 * M_PI * 2 * t)) / 2;
            audio.samples.push_back((short)(smooth[c] * 3 + tones));
        }
    }
    return audio;
}

inline Audio silence(int rate, int channels, double seconds) {
    Audio audio{rate, channels, {}};
    audio.samples.assign((size_t)(rate * seconds) * channels, 0);
    return audio;
}

inline void put32(std::string& out, uint32_t value) { out.append((const char*)&value, 4); }
inline void put16(std::string& out, uint16_t value) { out.append((const char*)&value, 2); }

// A PCM WAV file of the audio, in 16 or 8 bits (the top byte of each
// sample), with a LIST chunk before the data when asked.
inline void writeWav(const std::string& path, const Audio& audio, int bits = 16,
                     bool listChunk = false) {
    std::string data;
    for (short sample : audio.samples) {
        if (bits == 8) {
            data += (char)((sample >> 8) + 128);
        } else {
            data.append((const char*)&sample, 2);
        }
    }
    std::string list = listChunk ? std::string("LIST") + std::string("\x0e\0\0\0INFOISFT\x02\0\0\0x\0", 18) : "";
    uint16_t align = (uint16_t)(audio.channels * bits / 8);
    std::string out = "RIFF";
    put32(out, (uint32_t)(36 + list.size() + data.size()));
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, 1);
    put16(out, (uint16_t)audio.channels);
    put32(out, (uint32_t)audio.rate);
    put32(out, (uint32_t)audio.rate * align);
    put16(out, align);
    put16(out, (uint16_t)bits);
    out += list;
    out += "data";
    put32(out, (uint32_t)data.size());
    out += data;
    std::ofstream(path, std::ios::binary) << out;
}

// What the program reads back from an 8-bit file of the audio.
inline Audio eightBit(Audio audio) {
    for (short& sample : audio.samples) {
        sample = (short)((sample >> 8) * 256);
    }
    return audio;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// mpg123 writes a plain 44-byte header.
inline Audio readWav(const std::string& path) {
    std::string data = readFile(path);
    Audio audio;
    if (data.size() < 44) {
        return audio;
    }
    audio.channels = (uint16_t)(data[22] & 0xFF) | (uint16_t)(data[23] & 0xFF) << 8;
    memcpy(&audio.rate, data.data() + 24, 4);
    audio.samples.resize((data.size() - 44) / 2);
    memcpy(audio.samples.data(), data.data() + 44, audio.samples.size() * 2);
    return audio;
}

inline std::string windowsPath(const std::string& path) {
    std::string result = "Z:" + path;
    for (char& c : result) {
        if (c == '/') {
            c = '\\';
        }
    }
    return result;
}

// Decodes MP3 bytes with mpg123, in `folder`.
inline Audio decodeMp3(const std::string& mp3, const std::string& folder) {
    std::string in = folder + "/decode.mp3";
    std::string out = folder + "/decoded.wav";
    std::ofstream(in, std::ios::binary) << mp3;
    std::string command = "mpg123 -q -w '" + out + "' '" + in + "' 2>/dev/null";
    if (system(command.c_str()) != 0) {
        return Audio();
    }
    return readWav(out);
}

// Over the first `frames` frames of the input, or all of it.
inline double correlation(const Audio& input, const Audio& output, int channel, size_t lag,
                          size_t frames = SIZE_MAX) {
    double sumXY = 0, sumXX = 0, sumYY = 0;
    for (size_t i = 0; i < input.frames() && i < frames && i + lag < output.frames(); i++) {
        double x = input.samples[i * input.channels + channel];
        double y = output.samples[(i + lag) * output.channels + channel];
        sumXY += x * y;
        sumXX += x * x;
        sumYY += y * y;
    }
    return sumXX > 0 && sumYY > 0 ? sumXY / sqrt(sumXX * sumYY) : 0;
}

// The decoder's output starts late by the encoder and decoder delays; a
// third of a second of audio is enough to find by how much.
inline size_t bestLag(const Audio& input, const Audio& output) {
    size_t best = 0;
    double bestValue = -2;
    size_t window = (size_t)input.rate / 3;
    for (size_t lag = 0; lag < 3000; lag++) {
        double value = correlation(input, output, 0, lag, window);
        if (value > bestValue) {
            bestValue = value;
            best = lag;
        }
    }
    return best;
}


// The decoded audio has the input's rate and channels, is as long as the
// input plus the codec's delay and at most `slack` frames and two MP3 frames
// more, and follows it closely in every channel. Returns the delay found.
inline size_t expectDecodedClose(const Audio& input, const Audio& decoded, size_t slack,
                                 double minCorrelation) {
    EXPECT_EQ(input.rate, decoded.rate);
    EXPECT_EQ(input.channels, decoded.channels);
    if (input.rate != decoded.rate || input.channels != decoded.channels) {
        return 0;
    }
    size_t frame = input.rate >= 32000 ? 1152 : 576;
    size_t lag = bestLag(input, decoded);
    EXPECT_GE(decoded.frames(), input.frames() + lag);
    EXPECT_LE(decoded.frames(), input.frames() + lag + slack + 2 * frame);
    for (int channel = 0; channel < input.channels; channel++) {
        EXPECT_GT(correlation(input, decoded, channel, lag), minCorrelation) << "channel " << channel;
    }
    return lag;
}

// As loud as the input in every channel, after the delay: audio read at the
// wrong scale can still follow the input closely.
inline void expectSameLevel(const Audio& input, const Audio& decoded, size_t lag) {
    if (input.channels != decoded.channels) {
        return;
    }
    for (int channel = 0; channel < input.channels; channel++) {
        double in = 0, out = 0;
        for (size_t i = 0; i < input.frames() && i + lag < decoded.frames(); i++) {
            double x = input.samples[i * input.channels + channel];
            double y = decoded.samples[(i + lag) * decoded.channels + channel];
            in += x * x;
            out += y * y;
        }
        double ratio = in > 0 ? sqrt(out / in) : 0;
        EXPECT_GT(ratio, 0.8) << "channel " << channel;
        EXPECT_LT(ratio, 1.25) << "channel " << channel;
    }
}
