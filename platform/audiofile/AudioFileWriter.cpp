#include "platform/audiofile/AudioFileWriter.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "platform/console/Console.h"
#include "platform/documents/DocumentsFolder.h"

namespace fm::platform {
namespace {

constexpr std::size_t kChunkFrames = 8192;

std::atomic<std::uint64_t> droppedInProcess{0};

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

std::uint64_t AudioFileWriter::framesDroppedInProcess() {
    return droppedInProcess.load(std::memory_order_relaxed);
}

std::unique_ptr<AudioFileWriter> AudioFileWriter::create(
    const std::string& path, AudioFileType type, const AudioStreamBasicDescription& dataFormat,
    OSStatus* status, std::string* error, std::size_t queueFrames,
    const std::string& recordedDate) {
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
    // The old contents are replaced; a link there is replaced too, so its target is never
    // touched.
    std::string why;
    const int fd = openOwnOutputFile(path, &why);
    if (fd < 0) {
        return fail(kStatusWriteFailed, why);
    }
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (file == nullptr) {
        ::close(fd);
        return fail(kStatusWriteFailed, sf_strerror(nullptr));
    }
    if (!recordedDate.empty()) {
        sf_set_string(file, SF_STR_DATE, recordedDate.c_str());
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
    capacity_ = queue_.write_available();
    wakeFrames_ = std::max<std::size_t>(std::min(kWakeFrames, capacity_ / 2), 1);
    writer_ = std::thread([this] { run(); });
    // Named so that its wake-ups can be told apart from the other threads'.
    ::pthread_setname_np(writer_.native_handle(), "fm-file-writer");
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
        droppedInProcess.fetch_add(frames, std::memory_order_relaxed);
        return kNoErr;
    }
    queue_.push(static_cast<const std::int16_t*>(data->mBuffers[0].mData), frames);
    // One wake-up per batch: the writer clears the flag when it takes the batch.
    const std::size_t queued = capacity_ - queue_.write_available();
    if (queued >= wakeFrames_ && !wakePending_.exchange(true, std::memory_order_relaxed)) {
        wakeWriter();
    }
    return kNoErr;
}

void AudioFileWriter::wakeWriter() {
    wakeCount_.fetch_add(1, std::memory_order_release);
    wakeCount_.notify_one();
}

bool AudioFileWriter::drain() {
    bool wrote = false;
    for (;;) {
        const std::size_t n = queue_.pop(chunk_.data(), chunk_.size());
        if (n == 0) {
            return wrote;
        }
        wrote = true;
        const sf_count_t put = sf_write_short(file_, chunk_.data(), static_cast<sf_count_t>(n));
        if (put != static_cast<sf_count_t>(n)) {
            // Full disk or a vanished file: keep draining so the audio side never backs up,
            // count what was lost and say why once.
            failedFrames_ += n - static_cast<std::size_t>(put < 0 ? 0 : put);
            if (writeError_.empty()) {
                writeError_ = sf_strerror(file_);
                std::fprintf(stderr, "%s: cannot write %s: %s\n", fm::platform::programName(),
                             path_.c_str(), writeError_.c_str());
            }
        }
        written_.fetch_add(static_cast<std::uint64_t>(put < 0 ? 0 : put),
                           std::memory_order_relaxed);
    }
}

void AudioFileWriter::run() {
    for (;;) {
        // Read before the work: a wake-up that comes during it ends the next wait at once.
        const std::uint32_t seen = wakeCount_.load(std::memory_order_acquire);
        wakePending_.store(false, std::memory_order_relaxed);
        std::uint64_t request = 0;
        bool closing = false;
        {
            std::lock_guard lock(mutex_);
            request = flushRequested_;
            closing = closing_;
        }
        const bool wrote = drain();
        const bool flushing = request != flushDone_;
        if (wrote || flushing) {
            // The header declares every frame written so far, so a killed process still leaves
            // a readable recording.
            sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
        }
        if (flushing) {
            sf_write_sync(file_);
        }
        {
            std::lock_guard lock(mutex_);
            flushDone_ = request;
        }
        flushed_.notify_all();
        if (closing) {
            return;
        }
        wakeCount_.wait(seen, std::memory_order_acquire);
    }
}

void AudioFileWriter::flush() {
    std::unique_lock lock(mutex_);
    if (disposed_ || closing_) {
        return;
    }
    const std::uint64_t ticket = ++flushRequested_;
    lock.unlock();
    wakeWriter();
    lock.lock();
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
    }
    wakeWriter();
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
        std::fprintf(stderr, "%s: %s: %llu frames dropped because the writer queue was full\n",
                     fm::platform::programName(), path_.c_str(),
                     static_cast<unsigned long long>(dropped));
    }
    if (failedFrames_ > 0) {
        std::fprintf(stderr, "%s: %s: %llu frames could not be written\n",
                     fm::platform::programName(), path_.c_str(),
                     static_cast<unsigned long long>(failedFrames_));
    }
    disposeStatus_ = (closeResult != 0 || failedFrames_ > 0) ? kStatusWriteFailed : kNoErr;
    return disposeStatus_;
}

}  // namespace fm::platform
