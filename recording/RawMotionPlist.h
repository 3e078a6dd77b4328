#pragma once

namespace fm::recording {

// The raw motion values kept as an XML property list beside the sound.

// Writes all kRawSampleCapacity entries of rawSamples, in index order, as an XML property list
// array of reals to "rawAccel.wav" in the documents folder (replacing it atomically), sets
// rawFilePath, reads the file back and logs every element as "Sample: %f" (the value taken as
// a float), one line each on standard error. A file that cannot be written or read back is
// reported there instead.
void processAndWriteToFile();

}  // namespace fm::recording
