#include "platform/audiofile/FloatWavFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fm::platform {

std::unique_ptr<FloatWavFile> FloatWavFile::create(const std::string& folder,
                                                   const std::string& name, int sampleRate,
                                                   std::string* error) {
    int fd = -1;
    std::string fileName;
    for (int n = 1; n < 1000 && fd < 0; ++n) {
        fileName = name + (n > 1 ? " (" + std::to_string(n) + ")" : std::string()) + ".wav";
        // O_EXCL fails on any name taken, a link included: nothing is replaced or followed.
        fd = ::open((folder + "/" + fileName).c_str(),
                    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) {
            *error = folder + "/" + fileName + ": " + std::strerror(errno);
            return nullptr;
        }
    }
    if (fd < 0) {
        *error = folder + "/" + name + ".wav: no free name";
        return nullptr;
    }
    const std::string path = folder + "/" + fileName;
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) {
        *error = path + ": " + sf_strerror(nullptr);
        ::close(fd);
        ::unlink(path.c_str());
        return nullptr;
    }
    std::unique_ptr<FloatWavFile> wav(new FloatWavFile(file, fd, path, fileName));
    // A readable header from the start, before the first sample.
    sf_command(file, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    wav->updateSize();
    return wav;
}

FloatWavFile::FloatWavFile(SNDFILE* file, int fd, std::string path, std::string fileName)
    : file_(file), fd_(fd), path_(std::move(path)), fileName_(std::move(fileName)) {}

FloatWavFile::~FloatWavFile() {
    if (file_ != nullptr) {
        sf_close(file_);
        ::close(fd_);
    }
}

void FloatWavFile::updateSize() {
    struct stat info {};
    if (::fstat(fd_, &info) == 0) {
        bytes_ = static_cast<std::uint64_t>(info.st_size);
    }
}

bool FloatWavFile::append(const float* samples, std::size_t frames, std::string* error) {
    const sf_count_t put = sf_write_float(file_, samples, static_cast<sf_count_t>(frames));
    if (put > 0) {
        frames_ += static_cast<std::uint64_t>(put);
    }
    // The header declares every frame on disk, so a killed program leaves a readable clip.
    sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    updateSize();
    if (put != static_cast<sf_count_t>(frames)) {
        *error = path_ + ": " + sf_strerror(file_);
        return false;
    }
    return true;
}

void FloatWavFile::remove() {
    sf_close(file_);
    ::close(fd_);
    file_ = nullptr;
    ::unlink(path_.c_str());
}

}  // namespace fm::platform
