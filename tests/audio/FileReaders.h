#pragma once
// Reading a recording back: through libsndfile, and through readers that share no code with the
// writer (a standard-library Python CAF parser, and sox).
#include <sndfile.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fm::test {

struct ReadBack {
    bool ok = false;
    std::string description;  // format details or the error
    std::vector<std::int16_t> samples;
};

inline ReadBack readWithLibsndfile(const std::string& path) {
    ReadBack r;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) {
        r.description = sf_strerror(nullptr);
        return r;
    }
    // A header caught in the middle of an update may claim more than the file holds.
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(path, ec);
    if (ec || info.frames < 0 || static_cast<std::uintmax_t>(info.frames) * 2 > bytes) {
        r.description = "header claims " + std::to_string(info.frames) + " frames";
        sf_close(f);
        return r;
    }
    r.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    sf_read_short(f, r.samples.data(), static_cast<sf_count_t>(r.samples.size()));
    r.description = "format=" + std::to_string(info.format) +
                    " rate=" + std::to_string(info.samplerate) +
                    " channels=" + std::to_string(info.channels);
    sf_close(f);
    r.ok = true;
    return r;
}

inline std::string runCommand(const std::string& command, int* exitStatus) {
    std::string output;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, p) != nullptr) {
            output += buffer;
        }
        *exitStatus = ::pclose(p);
    } else {
        *exitStatus = -1;
    }
    return output;
}

inline std::vector<std::int16_t> readRawS16(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto lo = static_cast<unsigned char>(bytes[2 * i]);
        const auto hi = static_cast<unsigned char>(bytes[2 * i + 1]);
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
    }
    return samples;
}

// The Python parser in tests/audio/caf_reader.py; description is its one-line summary.
inline ReadBack readWithPythonCafParser(const std::string& path) {
    ReadBack r;
    const std::string raw = path + ".py.raw";
    int status = 0;
    r.description = runCommand("/usr/bin/python3 " FM_SOURCE_DIR "/tests/audio/caf_reader.py '" +
                                   path + "' '" + raw + "' 2>&1",
                               &status);
    r.ok = status == 0;
    if (r.ok) {
        r.samples = readRawS16(raw);
    }
    std::remove(raw.c_str());
    return r;
}

inline ReadBack readWithSox(const std::string& path) {
    ReadBack r;
    const std::string raw = path + ".sox.raw";
    int status = 0;
    r.description = runCommand(
        "sox '" + path + "' -t raw -e signed-integer -b 16 -L '" + raw + "' 2>&1", &status);
    r.ok = status == 0;
    if (r.ok) {
        r.samples = readRawS16(raw);
    }
    std::remove(raw.c_str());
    return r;
}

}  // namespace fm::test
