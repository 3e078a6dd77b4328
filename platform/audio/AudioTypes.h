#pragma once
// The plain audio records the engine passes to the platform layer: the stream description, the
// buffer list a render fills, the time stamp, and four-character status codes.
#include <cstdint>

namespace fm::platform {

using OSStatus = std::int32_t;
using AudioUnitRenderActionFlags = std::uint32_t;

// Four-character codes are 32-bit integers with the first character in the most significant byte.
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}
constexpr OSStatus statusCode(const char (&code)[5]) {
    return static_cast<OSStatus>(fourCharCode(code));
}

constexpr OSStatus kNoErr = 0;
constexpr OSStatus kStatusParamErr = -50;                           // bad argument or handle
constexpr OSStatus kStatusFormatNotSupported = statusCode("fmt?");  // not 16-bit mono 44.1 kHz
constexpr OSStatus kStatusNotInitialized = statusCode("init");      // start before initialise
constexpr OSStatus kStatusNoDevice = statusCode("nodv");            // no capture device to open
constexpr OSStatus kStatusDeviceFailed = statusCode("dvfl");        // device refused to open/start
constexpr OSStatus kStatusFileUnreadable = statusCode("!fil");      // input file cannot be read
constexpr OSStatus kStatusTooManyFrames = statusCode("tmfr");       // render larger than the block
constexpr OSStatus kStatusNoData = statusCode("!dat");              // render outside a callback
constexpr OSStatus kStatusWriteFailed = statusCode("wrt!");         // file could not be completed

constexpr std::uint32_t kAudioFormatLinearPCM = fourCharCode("lpcm");
constexpr std::uint32_t kAudioFormatFlagIsFloat = 1;
constexpr std::uint32_t kAudioFormatFlagIsSignedInteger = 4;
constexpr std::uint32_t kAudioFormatFlagIsPacked = 8;

// Describes a linear-PCM format; the fields are in the platform's order (40 bytes).
struct AudioStreamBasicDescription {
    double mSampleRate = 0.0;
    std::uint32_t mFormatID = 0;
    std::uint32_t mFormatFlags = 0;
    std::uint32_t mBytesPerPacket = 0;
    std::uint32_t mFramesPerPacket = 0;
    std::uint32_t mBytesPerFrame = 0;
    std::uint32_t mChannelsPerFrame = 0;
    std::uint32_t mBitsPerChannel = 0;
    std::uint32_t mReserved = 0;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

// 16-bit signed, packed, native (little-endian) mono at 44,100 frames per second.
constexpr AudioStreamBasicDescription captureFormat() {
    AudioStreamBasicDescription f;
    f.mSampleRate = 44100.0;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    f.mBytesPerPacket = 2;
    f.mFramesPerPacket = 1;
    f.mBytesPerFrame = 2;
    f.mChannelsPerFrame = 1;
    f.mBitsPerChannel = 16;
    f.mReserved = 0;
    return f;
}

constexpr bool isCaptureFormat(const AudioStreamBasicDescription& f) {
    const AudioStreamBasicDescription c = captureFormat();
    return f.mSampleRate == c.mSampleRate && f.mFormatID == c.mFormatID &&
           f.mFormatFlags == c.mFormatFlags && f.mBytesPerPacket == c.mBytesPerPacket &&
           f.mFramesPerPacket == c.mFramesPerPacket && f.mBytesPerFrame == c.mBytesPerFrame &&
           f.mChannelsPerFrame == c.mChannelsPerFrame && f.mBitsPerChannel == c.mBitsPerChannel;
}

struct AudioBuffer {
    std::uint32_t mNumberChannels = 0;
    std::uint32_t mDataByteSize = 0;
    void* mData = nullptr;
};

struct AudioBufferList {
    std::uint32_t mNumberBuffers = 0;
    AudioBuffer mBuffers[1];
};

struct AudioTimeStamp {
    double mSampleTime = 0.0;  // frames delivered before this block
    std::uint64_t mHostTime = 0;
};

// The input callback: reference, action flags, time stamp, bus, frame count, buffer list.
using AURenderCallback = OSStatus (*)(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                      const AudioTimeStamp* inTimeStamp, std::uint32_t inBusNumber,
                                      std::uint32_t inNumberFrames, AudioBufferList* ioData);

// The largest block any input unit hands to the callback; bigger captures are split.
constexpr std::uint32_t kMaxFramesPerSlice = 16384;

}  // namespace fm::platform
