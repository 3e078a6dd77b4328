#include "platform/audiofile/AudioFileWriter.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>

namespace fm::platform {
namespace {

constexpr std::size_t kChunkFrames = 8192;

bool isSixteenBitMono(const AudioStreamBasicDescription& f) {
    return f.mFormatID == kAudioFormatLinearPCM &&
           (f.mFormatFlags & kAudioFormatFlagIsSignedInteger) != 0 &&
           (f.mFormatFlags & kAudioFormatFlagIsFloat) == 0 && f.mBitsPerChannel == 16 &&
           f.mChannelsPerFrame == 1 && f.mBytesPerFrame == 2 && f.mSampleRate > 0.0;
}

bool sameFormat(const AudioStreamBasicDescription& a, const AudioStreamBasicDescription& b) {
    return a.mSampleRate == b.mSampleRate && a.mFormatID == b.mFormatID &&
           a.mFormatFlags == b.mFormatFlags && a.mBytesPerFrame == b.mBytesPerFrame &&
           a.mChannelsPerFrame == b.mChannelsPerFrame && a.mBitsPerChannel == b.mBitsPerChannel;
}

}  // namespace

std::unique_ptr<AudioFileWriter> AudioFileWriter::create(
    const std::string& path, AudioFileType type, const AudioStreamBasicDescription& dataFormat,
    OSStatus* status, std::string* error, std::size_t queueFrames) {
    auto fail = [&](OSStatus s, std::string text) -> std::unique_ptr<AudioFileWriter> {
        if (status != nullptr) {
            *status = s;
        }
        if (error != nullptr) {
            *error = path + ": " + text;
        }
        return nullptr;
    };
    if (!isSixteenBitMono(dataFormat)) {
        return fail(kStatusFormatNotSupported, "only 16-bit signed mono PCM is written");
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(dataFormat.mSampleRate);
    info.channels = 1;
    info.format = type == AudioFileType::CAF ? (SF_FORMAT_CAF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE)
                                             : (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    // Opening a FIFO for writing waits until someone reads it, which may be never: a FIFO (or
    // a socket) in the file's place is refused, not waited on and not removed.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
        return fail(kStatusWriteFailed, "a FIFO or socket is in its place, not a regular file");
    }
    // SFM_WRITE truncates an existing file: the old recording is replaced.
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        return fail(kStatusWriteFailed, sf_strerror(nullptr));
    }
    if (status != nullptr) {
        *status = kNoErr;
    }
    return std::unique_ptr<AudioFileWriter>(
        new AudioFileWriter(path, file, dataFormat, queueFrames));
}

AudioFileWriter::AudioFileWriter(std::string path, SNDFILE* file,
                                 AudioStreamBasicDescription format, std::size_t queueFrames)
    : path_(std::move(path)),
      file_(file),
      format_(format),
      queue_(queueFrames),
      chunk_(kChunkFrames) {
    writer_ = std::thread([this] { run(); });
}

AudioFileWriter::~AudioFileWriter() {
    dispose();
}

OSStatus AudioFileWriter::setClientDataFormat(const AudioStreamBasicDescription& format) {
    return sameFormat(format, format_) ? kNoErr : kStatusFormatNotSupported;
}

OSStatus AudioFileWriter::writeAsync(std::uint32_t frames, const AudioBufferList* data) {
    if (!open_.load(std::memory_order_relaxed)) {
        return kStatusParamErr;
    }
    if (frames == 0) {
        return kNoErr;
    }
    if (data == nullptr || data->mNumberBuffers < 1 || data->mBuffers[0].mData == nullptr ||
        data->mBuffers[0].mDataByteSize < frames * sizeof(std::int16_t)) {
        return kStatusParamErr;
    }
    // Whole blocks or nothing, so the file never holds a torn block.
    if (queue_.write_available() < frames) {
        dropped_.fetch_add(frames, std::memory_order_relaxed);
        return kNoErr;
    }
    queue_.push(static_cast<const std::int16_t*>(data->mBuffers[0].mData), frames);
    return kNoErr;
}

void AudioFileWriter::drain() {
    for (;;) {
        const std::size_t n = queue_.pop(chunk_.data(), chunk_.size());
        if (n == 0) {
            return;
        }
        const sf_count_t put = sf_write_short(file_, chunk_.data(), static_cast<sf_count_t>(n));
        if (put != static_cast<sf_count_t>(n)) {
            // Full disk or a vanished file: keep draining so the audio side never backs up,
            // count what was lost and say why once.
            failedFrames_ += n - static_cast<std::size_t>(put < 0 ? 0 : put);
            if (writeError_.empty()) {
                writeError_ = sf_strerror(file_);
                std::fprintf(stderr, "fieldmeter: cannot write %s: %s\n", path_.c_str(),
                             writeError_.c_str());
            }
        }
        written_.fetch_add(static_cast<std::uint64_t>(put < 0 ? 0 : put),
                           std::memory_order_relaxed);
    }
}

void AudioFileWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        const std::uint64_t request = flushRequested_;
        const bool closing = closing_;
        lock.unlock();
        drain();
        if (request != flushDone_) {
            sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
            sf_write_sync(file_);
        }
        lock.lock();
        flushDone_ = request;
        flushed_.notify_all();
        if (closing) {
            return;
        }
        // The audio thread never signals; a short poll picks its frames up.
        wake_.wait_for(lock, std::chrono::milliseconds(10),
                       [&] { return closing_ || flushRequested_ != request; });
    }
}

void AudioFileWriter::flush() {
    std::unique_lock lock(mutex_);
    if (disposed_ || closing_) {
        return;
    }
    const std::uint64_t ticket = ++flushRequested_;
    wake_.notify_all();
    flushed_.wait(lock, [&] { return flushDone_ >= ticket; });
}

OSStatus AudioFileWriter::dispose() {
    {
        std::lock_guard lock(mutex_);
        if (disposed_) {
            return disposeStatus_;
        }
        disposed_ = true;
        closing_ = true;
        wake_.notify_all();
    }
    if (writer_.joinable()) {
        writer_.join();
    }
    open_.store(false, std::memory_order_relaxed);
    // Frames pushed after the writer's last pass (a writeAsync racing the close) still count.
    drain();
    const int closeResult = sf_close(file_);
    file_ = nullptr;
    const std::uint64_t dropped = dropped_.load(std::memory_order_relaxed);
    if (dropped > 0) {
        std::fprintf(stderr,
                     "fieldmeter: %s: %llu frames dropped because the writer queue was full\n",
                     path_.c_str(), static_cast<unsigned long long>(dropped));
    }
    if (failedFrames_ > 0) {
        std::fprintf(stderr, "fieldmeter: %s: %llu frames could not be written\n", path_.c_str(),
                     static_cast<unsigned long long>(failedFrames_));
    }
    disposeStatus_ = (closeResult != 0 || failedFrames_ > 0) ? kStatusWriteFailed : kNoErr;
    return disposeStatus_;
}

}  // namespace fm::platform
