#include "mail/RecordingAsWav.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace fm::mail {
namespace {

// A seekable byte buffer for libsndfile's virtual I/O, read or written.
struct MemoryFile {
    std::vector<unsigned char>* bytes;
    sf_count_t position = 0;
};

sf_count_t memLength(void* user) {
    return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes->size());
}
sf_count_t memSeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    const sf_count_t base = whence == SEEK_CUR   ? m->position
                            : whence == SEEK_END ? static_cast<sf_count_t>(m->bytes->size())
                                                 : 0;
    m->position = std::max<sf_count_t>(0, base + offset);
    return m->position;
}
sf_count_t memRead(void* out, sf_count_t count, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    const auto size = static_cast<sf_count_t>(m->bytes->size());
    const sf_count_t n = std::clamp<sf_count_t>(size - m->position, 0, count);
    std::memcpy(out, m->bytes->data() + m->position, static_cast<std::size_t>(n));
    m->position += n;
    return n;
}
sf_count_t memWrite(const void* in, sf_count_t count, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    const auto end = static_cast<std::size_t>(m->position + count);
    if (m->bytes->size() < end) {
        m->bytes->resize(end);
    }
    std::memcpy(m->bytes->data() + m->position, in, static_cast<std::size_t>(count));
    m->position += count;
    return count;
}
sf_count_t memTell(void* user) {
    return static_cast<MemoryFile*>(user)->position;
}

SF_VIRTUAL_IO memoryIo{memLength, memSeek, memRead, memWrite, memTell};

std::uint64_t bigEndian64(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) {
        v = v << 8 | p[i];
    }
    return v;
}

// libsndfile fills in the CAF data chunk's size only when the file is closed, so a recording
// in progress declares no audio. When the data chunk stops short of the end of the file, widen
// it to everything on disk (libsndfile refuses CAF's own "-1: up to the end" size).
void openDataChunkToEnd(std::vector<unsigned char>& caf) {
    if (caf.size() < 8 || std::memcmp(caf.data(), "caff", 4) != 0) {
        return;
    }
    std::size_t at = 8;
    while (at + 12 <= caf.size()) {
        const std::uint64_t size = bigEndian64(&caf[at + 4]);
        if (std::memcmp(&caf[at], "data", 4) == 0) {
            const std::uint64_t onDisk = caf.size() - at - 12;
            if (size < onDisk || size == UINT64_MAX) {
                for (int i = 0; i < 8; ++i) {
                    caf[at + 4 + i] = static_cast<unsigned char>(onDisk >> (8 * (7 - i)));
                }
            }
            return;
        }
        if (size > caf.size() - at - 12) {
            return;
        }
        at += 12 + static_cast<std::size_t>(size);
    }
}

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using Sndfile = std::unique_ptr<SNDFILE, SndfileCloser>;

}  // namespace

bool recordingAsWav(const std::string& path, std::vector<unsigned char>* wav, std::string* why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<unsigned char> caf{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
    if (in.bad()) {
        *why = path + ": " + std::strerror(errno);
        return false;
    }
    openDataChunkToEnd(caf);

    MemoryFile source{&caf};
    SF_INFO info{};
    Sndfile reader(sf_open_virtual(&memoryIo, SFM_READ, &info, &source));
    if (!reader) {
        *why = path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.frames <= 0) {
        *why = path + " holds no samples yet";
        return false;
    }
    std::vector<short> samples(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t frames = sf_readf_short(reader.get(), samples.data(), info.frames);
    samples.resize(static_cast<std::size_t>(frames * info.channels));
    if (frames <= 0) {
        *why = path + " holds no samples yet";
        return false;
    }

    wav->clear();
    MemoryFile target{wav};
    SF_INFO out{};
    out.samplerate = info.samplerate;
    out.channels = info.channels;
    out.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    Sndfile writer(sf_open_virtual(&memoryIo, SFM_WRITE, &out, &target));
    if (!writer) {
        *why = std::string("cannot make a WAV file: ") + sf_strerror(nullptr);
        return false;
    }
    if (sf_writef_short(writer.get(), samples.data(), frames) != frames) {
        *why = std::string("cannot make a WAV file: ") + sf_strerror(writer.get());
        return false;
    }
    writer.reset();  // closing writes the final lengths into the header
    return true;
}

}  // namespace fm::mail
