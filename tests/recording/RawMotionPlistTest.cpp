#include "recording/RawMotionPlist.h"

#include <plist/plist.h>

#include <sstream>

#include "recording/RawMotionTestSupport.h"

namespace fm::test {
namespace {

using RawMotionPlist = RawMotionTest;

TEST_F(RawMotionPlist, WritesReadsBackAndLogsEverySample) {
    std::vector<double> values(fm::recording::kRawSampleCapacity);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = (static_cast<double>(i) - 25000.0) / 3.0;
    }
    values[1] = 0.1;
    values[2] = -1e-9;
    setSeries(values, std::vector<double>(values.size(), 0.0));
    fm::recording::rawSampleCount = 3;  // the whole array is stored whatever the count

    ::testing::internal::CaptureStderr();
    fm::recording::processAndWriteToFile();
    const std::string log = ::testing::internal::GetCapturedStderr();

    const auto path = folder_ / "rawAccel.wav";
    EXPECT_EQ(fm::recording::rawFilePath, path.string());

    std::istringstream lines(log);
    std::string line;
    std::size_t count = 0;
    while (std::getline(lines, line)) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "Sample: %f",
                      static_cast<double>(static_cast<float>(values[count])));
        ASSERT_EQ(line, expected) << "line " << count;
        ++count;
    }
    EXPECT_EQ(count, values.size());

    // libplist reads back the exact doubles.
    const auto bytes = readBytes(path);
    plist_t root = nullptr;
    plist_from_xml(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::uint32_t>(bytes.size()), &root);
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(plist_get_node_type(root), PLIST_ARRAY);
    ASSERT_EQ(plist_array_get_size(root), values.size());
    for (unsigned i : {0u, 1u, 2u, 12345u, 49999u}) {
        plist_t item = plist_array_get_item(root, i);
        ASSERT_EQ(plist_get_node_type(item), PLIST_REAL);
        double value = 0.0;
        plist_get_real_val(item, &value);
        EXPECT_EQ(value, values[i]) << i;
    }
    plist_free(root);

    // An independent reader agrees.
    const std::string py =
        run("/usr/bin/python3 -c 'import plistlib,sys; a=plistlib.load(open(sys.argv[1],\"rb\")); "
            "print(len(a), all(type(x) is float for x in a), repr(a[1]), repr(a[2]), "
            "repr(a[49999]))' '" +
            path.string() + "'");
    EXPECT_EQ(py, "50000 True 0.1 -1e-09 8333.0\n");
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(RawMotionPlist, UnwritableFolderIsReportedNotLogged) {
    std::filesystem::create_directory(folder_ / "rawAccel.wav");
    std::filesystem::create_directory(folder_ / "rawAccel.wav" / "keep");
    ::testing::internal::CaptureStderr();
    fm::recording::processAndWriteToFile();
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Could not write " + (folder_ / "rawAccel.wav").string()), std::string::npos)
        << log;
    EXPECT_EQ(log.find("Sample:"), std::string::npos);
}

}  // namespace
}  // namespace fm::test
