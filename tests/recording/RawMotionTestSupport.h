#pragma once
// Shared set-up for the raw motion tests: a private documents folder and series builders.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/documents/DocumentsFolder.h"
#include "recording/RawMotion.h"

namespace fm::test {

class RawMotionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/fm-rawmotion-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        fm::platform::setDocumentsFolder(folder_.string());
        setSeries({}, {});
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    // Fills the raw series as a recording would leave it.
    static void setSeries(const std::vector<double>& values, const std::vector<double>& times) {
        ASSERT_EQ(values.size(), times.size());
        std::fill(std::begin(fm::recording::rawSamples), std::end(fm::recording::rawSamples), 0.0);
        std::fill(std::begin(fm::recording::rawSampleTimes),
                  std::end(fm::recording::rawSampleTimes), 0.0);
        std::copy(values.begin(), values.end(), fm::recording::rawSamples);
        std::copy(times.begin(), times.end(), fm::recording::rawSampleTimes);
        fm::recording::rawSampleCount = static_cast<std::int32_t>(values.size());
        fm::recording::rewindRawSeries();
    }

    static std::vector<unsigned char> readBytes(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Runs a shell command and returns its standard output.
    static std::string run(const std::string& command) {
        std::string out;
        if (std::FILE* p = popen(command.c_str(), "r")) {
            char buf[4096];
            std::size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
                out.append(buf, n);
            }
            pclose(p);
        }
        return out;
    }

    std::filesystem::path folder_;
};

}  // namespace fm::test
