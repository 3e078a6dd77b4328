#pragma once
// The program's test of its own measuring engine: the periodic electrical tests of a sound level
// meter (IEC 61672-3:2013) against the class 1 acceptance limits of IEC 61672-1:2013, and the
// filter tests of third-octave bands against class 1 of IEC 61260-1:2014. Every signal is made
// here at 44,100 Hz and goes through a fresh SoundLevelMeter or ThirdOctaveBands, the way the
// captured sound does; every checked value becomes one line of a table. The expected values and
// limits are the standards' own tables, written out in SelfTest.cpp, never the program's
// formulas. Qt-free.
#include <string>
#include <vector>

namespace fm::measure {

inline constexpr double kSelfTestSampleRate = 44100.0;

// One checked value. Levels and their differences are in dB.
struct SelfTestLine {
    std::string test;       // what was measured, e.g. "Weighting A 63 Hz re 1 kHz"
    std::string expected;   // the standard's value, or the range it accepts
    std::string measured;   // what the engine gave
    std::string tolerance;  // the acceptance limits around the expected value ("-" for a range)
    bool pass = false;
};

// A fault to give the meters under test, so that a self-test that cannot fail would be seen:
// every meter is made with this calibration offset, while the self-test expects dBFS.
struct SelfTestFault {
    double calibrationOffsetDb = 0.0;
};

// Each group of tests, in the order of the table.
// A, C and Z at 31.5 Hz to 16 kHz relative to 1 kHz, and the level at 1 kHz against the input's.
std::vector<SelfTestLine> frequencyWeightingTest(const SelfTestFault& fault = {});
// 8 kHz from 1 dB below full scale down to -110 dBFS against the level expected from the start.
std::vector<SelfTestLine> levelLinearityTest(const SelfTestFault& fault = {});
// 4 kHz tonebursts: LAFmax, LASmax and LAE against the steady LA.
std::vector<SelfTestLine> toneburstTest(const SelfTestFault& fault = {});
// How fast LAF and LAS fall once a steady 4 kHz signal stops, in dB/s.
std::vector<SelfTestLine> decayTest(const SelfTestFault& fault = {});
// LCpeak of one cycle of 8 kHz and of half cycles of 500 Hz against the steady LC.
std::vector<SelfTestLine> peakTest(const SelfTestFault& fault = {});
// A signal just beyond full scale is indicated as an overload, one just below is not.
std::vector<SelfTestLine> overloadTest();
// The relative attenuation of every band at the mask's frequencies.
std::vector<SelfTestLine> bandAttenuationTest();
// The normalized effective bandwidth of every band, from one exponential sine sweep.
std::vector<SelfTestLine> bandEffectiveBandwidthTest();

// All of them, in that order.
std::vector<SelfTestLine> runSelfTest(const SelfTestFault& fault = {});

bool allPassed(const std::vector<SelfTestLine>& lines);

// The table: a heading, one line per checked value ending in "pass" or "FAIL", and a last line
// saying how many passed.
std::string formatSelfTestTable(const std::vector<SelfTestLine>& lines);

}  // namespace fm::measure
