#pragma once
// The recording turned into the WAV file a mail recipient can play: the same samples, sample
// rate and channels, 16-bit PCM in a RIFF/WAVE container, built in memory.
#include <string>
#include <vector>

namespace fm::mail {

// Reads the audio file at path (the CAF recording) and returns its samples as WAV bytes in
// *wav. A recording still being written is taken as far as it has reached the disk. Returns
// false with a reason in *why when the file is missing, unreadable or holds no samples.
bool recordingAsWav(const std::string& path, std::vector<unsigned char>* wav, std::string* why);

}  // namespace fm::mail
