#include "mail/MailTestSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/audiofile/RecordingAsWav.h"

namespace fm::test {

bool recordingAsWav(const std::string& path, std::vector<unsigned char>* wav, std::string* why) {
    const auto reader = fm::platform::RecordingWav::open(path, why);
    if (!reader) {
        return false;
    }
    wav->clear();
    char buffer[1000];  // smaller than the reader's own pieces: they are handed out in parts
    for (std::int64_t n; (n = reader->read(buffer, sizeof buffer)) > 0;) {
        wav->insert(wav->end(), buffer, buffer + n);
    }
    if (!reader->error().empty()) {
        *why = reader->error();
        return false;
    }
    return wav->size() == reader->size();
}

std::vector<short> wavSamples(const std::vector<unsigned char>& wav) {
    char path[] = "/tmp/fm-wav-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        return {};
    }
    const bool written = write(fd, wav.data(), wav.size()) == static_cast<ssize_t>(wav.size());
    close(fd);
    std::vector<short> samples;
    SF_INFO info{};
    if (SNDFILE* f = written ? sf_open(path, SFM_READ, &info) : nullptr) {
        if (info.format == (SF_FORMAT_WAV | SF_FORMAT_PCM_16) && info.channels == 1 &&
            info.samplerate == 44100) {
            samples.resize(static_cast<std::size_t>(info.frames));
            samples.resize(static_cast<std::size_t>(sf_read_short(f, samples.data(), info.frames)));
        }
        sf_close(f);
    }
    unlink(path);
    return samples;
}

}  // namespace fm::test
