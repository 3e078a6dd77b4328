// Starting and stopping the input unit, and the render callback.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "audio/AudioEngine.h"
#include "audio/SignalState.h"
#include "measure/Measurement.h"
#include "platform/audiofile/RecordingArchive.h"
#include "platform/console/Console.h"
#include "platform/documents/DocumentsFolder.h"
#include "recording/RecordingState.h"

namespace fm::audio {

using namespace fm::platform;

std::string statusCodeText(OSStatus status) {
    const auto code = static_cast<std::uint32_t>(status);
    char chars[4];
    bool printable = true;
    for (int i = 0; i < 4; ++i) {
        chars[i] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
        printable = printable && chars[i] >= ' ' && chars[i] <= '~';
    }
    if (printable) {
        return std::string("'") + std::string(chars, 4) + "'";
    }
    return std::to_string(static_cast<long>(status));
}

void checkStatus(OSStatus status, const char* operation) {
    if (status == kNoErr) {
        return;
    }
    std::fprintf(stderr, "Error: %s (%s)\n", operation, statusCodeText(status).c_str());
}

std::unique_ptr<AudioFileWriter> AudioEngine::createOutputFile(const std::string& path,
                                                               std::size_t queueFrames,
                                                               std::string* error) {
    OSStatus status = kNoErr;
    auto file = AudioFileWriter::create(path, AudioFileType::CAF, streamFormat, &status, error,
                                        queueFrames, recordedDateText(std::time(nullptr)));
    if (!file) {
        std::fprintf(stderr, "%s: cannot create %s\n", fm::platform::programName(), error->c_str());
        *error = "cannot create " + *error;
        return nullptr;
    }
    file->setClientDataFormat(streamFormat);
    file->writeAsync(0, nullptr);  // prime the writer before capture starts
    return file;
}

void AudioEngine::makeUnit() {
    // The unit stopped by the last stopRecording() is disposed of before a new one is made;
    // a unit still running (a start without a stop) is stopped first.
    if (unit_) {
        unit_->uninitialize();
        unit_.reset();
    }
    unit_ = makeAudioInputUnit(inputSource());
    mAudioUnit = unit_.get();

    mAudioUnit->setEnableIO(AudioUnitScope::Input, AudioInputUnit::kInputBus, true);
    mAudioUnit->setEnableIO(AudioUnitScope::Output, AudioInputUnit::kOutputBus, true);
    streamFormat = captureFormat();
    mAudioUnit->setStreamFormat(AudioUnitScope::Output, AudioInputUnit::kInputBus, streamFormat);
    mAudioUnit->setStreamFormat(AudioUnitScope::Input, AudioInputUnit::kOutputBus, streamFormat);
    mAudioUnit->setInputCallback(&audioInputCallback, this);
    mAudioUnit->setShouldAllocateBuffer(false);
}

void AudioEngine::initializeOutputUnit() {
    makeUnit();

    // Files left open by a start without a stop are completed before they are replaced.
    file_.reset();
    cleanFile_.reset();
    mAudioFileRef = nullptr;
    mAudioFileRefClean = nullptr;
    // Without the folder the meters keep running; only the files are missing.
    const bool folderUsable = ensureDocumentsFolderReporting();

    const std::string outputPath = documentsFolder() + "/output.wav";
    std::fprintf(stderr, ">>> %s\n", outputPath.c_str());
    recordFileURL = outputPath;
    if (folderUsable) {
        // Nothing is ever queued for this file: one slice of room is plenty.
        std::string ignored;
        file_ = createOutputFile(outputPath, kMaxFramesPerSlice, &ignored);
        mAudioFileRef = file_.get();
    }

    const std::string cleanPath = documentsFolder() + "/output2.caf";
    recordingFileError_ = "the documents folder " + documentsFolder() + " cannot be used";
    std::fprintf(stderr, ">>> %s\n", cleanPath.c_str());
    cleanRecordFileURL = cleanPath;
    if (folderUsable) {
        // The recording there is kept before the file is made anew; one that cannot be kept is
        // left in place rather than erased.
        std::string keptAs;
        std::string keepError;
        if (keepLastRecording(documentsFolder(), &keptAs, &keepError)) {
            if (!keptAs.empty()) {
                std::fprintf(stderr, "%s: the last recording is kept as %s\n",
                             fm::platform::programName(), keptAs.c_str());
            }
            cleanFile_ = createOutputFile(cleanPath, AudioFileWriter::kDefaultQueueFrames,
                                          &recordingFileError_);
            mAudioFileRefClean = cleanFile_.get();
            if (mAudioFileRefClean != nullptr) {
                recordingFileError_.clear();
            }
        } else {
            recordingFileError_ =
                "the last recording " + cleanPath + " cannot be kept (" + keepError + ")";
            std::fprintf(stderr,
                         "%s: cannot keep the last recording %s (%s); it is left in "
                         "place and nothing new is recorded\n",
                         fm::platform::programName(), cleanPath.c_str(), keepError.c_str());
        }
    }

    startUnit(false, fm::measure::InputKind::None);
}

bool AudioEngine::restartCapture() {
    if (mAudioUnit != nullptr) {
        mAudioUnit->stop();
    }
    // An input that was lost stays lost while it cannot be captured again: "none" would say it
    // never was there.
    const auto before = fm::measure::measurement().input();
    makeUnit();
    startUnit(true, before == fm::measure::InputKind::Lost ? before : fm::measure::InputKind::None);
    return inputStarted();
}

void AudioEngine::startMeasuring() {
    makeUnit();
    startUnit(false, fm::measure::InputKind::None);
}

void AudioEngine::stopMeasuring() {
    if (mAudioUnit != nullptr) {
        mAudioUnit->stop();
        mAudioUnit->uninitialize();
    }
}

void AudioEngine::startUnit(bool quiet, fm::measure::InputKind whenItFails) {
    ++engineStarts_;
    startError_.clear();
    auto& measurement = fm::measure::measurement();
    measurement.start();
    measurement.setInput(measuredInputKind());
    OSStatus status = mAudioUnit->initialize();
    if (!quiet) {
        checkStatus(status, "AudioUnitInitialize");
    }
    if (status != kNoErr) {
        startError_ = mAudioUnit->lastError();
        if (!quiet) {
            std::fprintf(stderr, "%s: %s: %s\n", fm::platform::programName(),
                         inputSource().describe().c_str(), startError_.c_str());
        }
    }
    status = mAudioUnit->start();
    if (!quiet) {
        checkStatus(status, "AudioOutputUnitStart");
    }
    if (status != kNoErr && status != kStatusNotInitialized) {
        startError_ = mAudioUnit->lastError();
        if (!quiet) {
            std::fprintf(stderr, "%s: %s: %s\n", fm::platform::programName(),
                         inputSource().describe().c_str(), startError_.c_str());
        }
    }
    if (status != kNoErr && startError_.empty()) {
        startError_ = "the input could not be started";
    }
    if (!startError_.empty()) {
        measurement.setInput(whenItFails);
    }
}

fm::measure::InputKind AudioEngine::measuredInputKind() const {
    switch (inputSource().kind) {
        case AudioInputKind::File:
            return fm::measure::InputKind::File;
        case AudioInputKind::Demo:
            return fm::measure::InputKind::Demo;
        case AudioInputKind::Microphone:
        case AudioInputKind::Scripted:
            break;
    }
    return fm::measure::InputKind::Mic;
}

void AudioEngine::noteInputStopped(InputEnd end) {
    fm::measure::measurement().setInput(end == InputEnd::Ended ? fm::measure::InputKind::Ended
                                                               : fm::measure::InputKind::Lost);
}

void clearSignalMeters() {
    for (auto& v : waveformSamples) {
        v.store(0.0, std::memory_order_relaxed);
    }
    for (auto& v : spectrumPower) {
        v.store(0.0f, std::memory_order_relaxed);
    }
    rmsValue.store(0.0, std::memory_order_relaxed);
}

void AudioEngine::stopRecording() {
    std::fprintf(fm::platform::console(), "\nstopRecording\n");
    std::fflush(fm::platform::console());
    if (mAudioUnit != nullptr) {
        // After the stop returns no callback runs, so the files can be closed.
        mAudioUnit->stop();
        mAudioUnit->uninitialize();
    }
    const OSStatus status = mAudioFileRef != nullptr ? mAudioFileRef->dispose() : kStatusParamErr;
    std::fprintf(fm::platform::console(), "OSStatus(ExtAudioFileDispose): %ld\n",
                 static_cast<long>(status));
    std::fflush(fm::platform::console());
    if (mAudioFileRefClean != nullptr) {
        mAudioFileRefClean->dispose();
    }
}

namespace {

// The audio thread must not take stdio's lock: format on the stack and write the bytes directly.
void printRenderError(OSStatus status) {
    char text[64];
    const int length =
        std::snprintf(text, sizeof text, "AudioUnitRender error: %ld", static_cast<long>(status));
    if (length > 0) {
        [[maybe_unused]] const ssize_t written =
            ::write(STDOUT_FILENO, text, static_cast<std::size_t>(length));
    }
}

void storeSnapshot(const std::int16_t* s, std::uint32_t frames) {
    if (frames >= static_cast<std::uint32_t>(kGraphPoints)) {
        const std::uint32_t stride = frames / kGraphPoints;
        for (std::uint32_t k = 0; k < static_cast<std::uint32_t>(kGraphPoints); ++k) {
            waveformSamples[k].store(static_cast<double>(s[k * stride]), std::memory_order_relaxed);
        }
        return;
    }
    // A short block is spread over the whole snapshot so that it spans the block.
    for (std::uint32_t k = 0; k < static_cast<std::uint32_t>(kGraphPoints); ++k) {
        const std::uint32_t j = k * frames / kGraphPoints;
        waveformSamples[k].store(static_cast<double>(s[j]), std::memory_order_relaxed);
    }
}

}  // namespace

OSStatus audioInputCallback(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                            const AudioTimeStamp* inTimeStamp, std::uint32_t /*inBusNumber*/,
                            std::uint32_t inNumberFrames, AudioBufferList* /*ioData*/) {
    auto* engine = static_cast<AudioEngine*>(inRefCon);
    const std::uint32_t frames = inNumberFrames;
    if (engine == nullptr || engine->mAudioUnit == nullptr || frames > kMaxFramesPerSlice) {
        return 0;  // input units never deliver more than kMaxFramesPerSlice
    }
    // The 16-bit samples feed only the screen's level and waveform, the recording and the
    // spectrum: without any of them the block is taken as floats alone.
    const bool screen = phoneScreen.load(std::memory_order_relaxed);
    const bool recording = fm::recording::recordingActive.load(std::memory_order_relaxed) != 0 &&
                           engine->mAudioFileRefClean != nullptr;
    const bool spectrum = spectrumWanted.load(std::memory_order_relaxed);
    std::int16_t* samples = engine->renderBuffer();
    AudioBufferList list;
    list.mNumberBuffers = 1;
    list.mBuffers[0].mNumberChannels = 1;
    list.mBuffers[0].mDataByteSize = frames * static_cast<std::uint32_t>(sizeof(std::int16_t));
    list.mBuffers[0].mData = samples;
    if (screen || recording || spectrum) {
        std::memset(samples, 0, frames * sizeof(std::int16_t));
        const OSStatus status = engine->mAudioUnit->render(
            ioActionFlags, inTimeStamp, AudioInputUnit::kInputBus, frames, &list);
        if (status != kNoErr) {
            printRenderError(status);
            return 0;
        }
    }
    if (frames == 0) {
        return 0;  // nothing captured: level, snapshot, file and spectrum stay as they were
    }
    // The level engine measures the input's own samples: no 16-bit rounding or clipping.
    float* floats = engine->renderFloatBuffer();
    if (const OSStatus status = engine->mAudioUnit->renderFloat(frames, floats); status != kNoErr) {
        printRenderError(status);
        return 0;
    }

    if (screen) {
        storeSnapshot(samples, frames);

        // Each square is at most 2^30 and a block at most 2^14 frames, so every partial sum is an
        // integer below 2^44: exact in a double in any order. Summing in 64-bit integers gives the
        // same value as adding each square to a double in turn, and vectorises.
        std::int64_t sumOfSquares = 0;
        for (std::uint32_t j = 0; j < frames; ++j) {
            const std::int32_t v = samples[j];
            sumOfSquares += v * v;
        }
        const double r = std::sqrt(static_cast<double>(sumOfSquares) / frames) *
                             static_cast<double>(sensitivityGain.load(std::memory_order_relaxed)) -
                         static_cast<double>(baseLevel.load(std::memory_order_relaxed));
        rmsValue.store(r >= 0.0 ? r : 0.0, std::memory_order_relaxed);
    }
    // Overload as the input saw it (a mixed-down channel or a sample that was no number is gone
    // from the floats), and the overflows the interface reported.
    fm::measure::measurement().feed(floats, frames, engine->mAudioUnit->renderOverload(),
                                    engine->mAudioUnit->overflows());

    if (recording) {
        engine->mAudioFileRefClean->writeAsync(frames, &list);
    }

    if (spectrum) {
        accumulateSpectrumSamples(*engine, samples, frames);
    }
    return 0;
}

}  // namespace fm::audio
