#pragma once
// The audio engine: the audio fields and methods of the screen controller. The program's
// ViewController derives publicly from AudioEngine, so these are its members.
//
// Order of use, all on the main thread:
//   FFTSetup()               once, before the first start (plans the FFT, makes the buffers);
//   initializeOutputUnit()   creates a fresh input unit from the chosen AudioInputSource,
//                            erases and recreates "output.wav" and "output2.caf" in the
//                            documents folder and starts capture;
//   stopRecording()          stops the unit (no callback follows) and closes both files;
//                            the caller then sets mAudioUnit to null. The stopped unit is
//                            disposed of by the next initializeOutputUnit(), before it makes
//                            a new one.
//   flushRecordingFile()     returns once every frame queued so far for "output2.caf" is in
//                            the file, which stays open (used when a recording stops).
#include <cstdint>
#include <memory>
#include <optional>

#include "audio/FftAnalysis.h"
#include "measure/SecondRecord.h"
#include "platform/audio/AudioInputSource.h"
#include "platform/audio/AudioInputUnit.h"
#include "platform/audiofile/AudioFileWriter.h"
#include "platform/fft/PackedRealFft.h"

namespace fm::audio {

class AudioEngine {
  public:
    AudioEngine();
    virtual ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    void FFTSetup();
    void initializeOutputUnit();
    void stopRecording();
    void flushRecordingFile();
    // Main thread: captures from the same input again after it was lost, with a fresh unit;
    // the files stay as they are (nothing records). True when capture runs again.
    bool restartCapture();
    // Main thread: captures for the measurement alone, making no files (the program without a
    // screen records nothing); stopMeasuring() stops it, and no callback follows.
    void startMeasuring();
    void stopMeasuring();

    // Main thread. Whether the last initializeOutputUnit() got capture running; when it did
    // not, startError() says why in words ("" while capture runs or no start was made).
    bool inputStarted() const { return mAudioUnit != nullptr && startError_.empty(); }
    const std::string& startError() const { return startError_; }
    // Why "output2.caf" could not be made at the last start ("" when it was).
    const std::string& recordingFileError() const { return recordingFileError_; }
    // Counts the engine starts, so that an end of the input is dealt with once per start.
    std::uint64_t engineStarts() const { return engineStarts_; }

    // This engine's input, overriding the process-wide fm::platform::audioInputSource().
    void setAudioInputSource(const fm::platform::AudioInputSource& source) { source_ = source; }
    const fm::platform::AudioInputSource& inputSource() const;

    // The capture format; the source format of the float conversion.
    fm::platform::AudioStreamBasicDescription streamFormat{};
    // FFT set-up for 2^logOfN points, made by FFTSetup().
    fm::platform::PackedRealFft* fftSetupObject = nullptr;
    // The packed transform of the last analysed block: halfN floats each.
    DSPSplitComplex CSPLIT{nullptr, nullptr};
    std::int32_t logOfN = 0;             // 11
    std::int32_t halfN = 0;              // 1024
    std::int32_t n = 0;                  // 2048
    void* samplesBuffer = nullptr;       // 2048 signed 16-bit samples being gathered
    std::uint32_t bufferMaxSamples = 0;  // 2048
    std::uint32_t index2 = 0;            // samples already in samplesBuffer (audio thread)
    // The running input unit, or null when no engine runs.
    fm::platform::AudioInputUnit* mAudioUnit = nullptr;
    // "output.wav" (stays empty) and "output2.caf" (written while recording); null when the file
    // could not be created.
    fm::platform::AudioFileWriter* mAudioFileRef = nullptr;
    fm::platform::AudioFileWriter* mAudioFileRefClean = nullptr;

    // The callback's render buffers, kMaxFramesPerSlice samples each (audio thread): the block
    // as 16-bit samples, and as the input's own floats for the level engine.
    std::int16_t* renderBuffer() { return renderBuffer_.get(); }
    float* renderFloatBuffer() { return renderFloatBuffer_.get(); }

    // Main thread: the input ended or was lost by itself while capturing; the measurement says
    // so from now on (until a start succeeds).
    void noteInputStopped(fm::platform::InputEnd end);

  private:
    void makeUnit();
    void startUnit(bool quiet);
    fm::measure::InputKind measuredInputKind() const;
    std::unique_ptr<fm::platform::AudioFileWriter> createOutputFile(const std::string& path,
                                                                    std::size_t queueFrames,
                                                                    std::string* error);

    std::string startError_;
    std::string recordingFileError_;
    std::uint64_t engineStarts_ = 0;
    std::optional<fm::platform::AudioInputSource> source_;
    std::unique_ptr<fm::platform::AudioInputUnit> unit_;
    std::unique_ptr<fm::platform::AudioFileWriter> file_;
    std::unique_ptr<fm::platform::AudioFileWriter> cleanFile_;
    std::unique_ptr<fm::platform::PackedRealFft> fft_;
    std::unique_ptr<std::int16_t[]> samples_;
    std::unique_ptr<float[]> realp_;
    std::unique_ptr<float[]> imagp_;
    std::unique_ptr<std::int16_t[]> renderBuffer_;
    std::unique_ptr<float[]> renderFloatBuffer_;
};

// The input callback the unit calls once per captured block, on the audio thread; inRefCon is
// the AudioEngine. Always returns 0.
fm::platform::OSStatus audioInputCallback(void* inRefCon,
                                          fm::platform::AudioUnitRenderActionFlags* ioActionFlags,
                                          const fm::platform::AudioTimeStamp* inTimeStamp,
                                          std::uint32_t inBusNumber, std::uint32_t inNumberFrames,
                                          fm::platform::AudioBufferList* ioData);

// Prints "Error: <operation> (<code>)" on standard error when status is not 0; the code is the
// four characters in single quotes when all are printable, else the signed decimal value.
void checkStatus(fm::platform::OSStatus status, const char* operation);

// Main thread, while no callback runs: the level, the snapshot and the spectrum go back to
// silence, so the meters do not keep showing a capture that has ended.
void clearSignalMeters();

// The code text checkStatus prints: "'fmt?'" or "-50".
std::string statusCodeText(fm::platform::OSStatus status);

}  // namespace fm::audio
