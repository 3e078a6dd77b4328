// The real program on a disk that fills up until it is ended: the rows it could not write are
// said with their count, and its status says it failed.
#include <signal.h>

#include <QRegularExpression>

#include "tests/e2e/ProgramRunner.h"
#include "tests/report/FullDisk.h"

namespace fm::test {
namespace {

class FilesRun : public ProgramRun {};

TEST_F(FilesRun, RowsAFullDiskKeptUntilTheEndAreCountedAndTheStatusIsOne) {
    FullDisk disk("fm-e2e-disk", 256 * 1024);
    if (!disk.mounted) {
        GTEST_SKIP() << "this process may not mount a tmpfs (not root)";
    }
    start({"--input", "demo", "--log", QString::fromStdString((disk.root / "l.csv").string())});
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(disk.root / "l.csv") > 1000; }, 30000));
    disk.fill();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            stderr_ += QString::fromUtf8(process_.readAllStandardError());
            return stderr_.contains("fieldmeter: cannot write the log ");
        },
        60000))
        << stderr_.toStdString();
    ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
    EXPECT_EQ(finish(), 1) << stderr_.toStdString();
    const auto lost =
        QRegularExpression(
            R"(fieldmeter: (\d+) rows? of the log could not be written and (is|are) lost: .*l\.csv)")
            .match(stderr_);
    ASSERT_TRUE(lost.hasMatch()) << stderr_.toStdString();
    EXPECT_GE(lost.captured(1).toInt(), 1);
}

}  // namespace
}  // namespace fm::test
