// A recording survives the ways the real program can end while it records (killed, a closed
// terminal, a lost display), the recording before it is kept rather than erased, a second
// program cannot take the folder over, and links in place of its files are never written
// through.
#include <signal.h>

#include <QRegularExpression>
#include <QStandardPaths>
#include <fstream>

#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

// Frames libsndfile reads from the file; -1 when it cannot read it.
long long sndfileFrames(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) {
        return -1;
    }
    sf_close(f);
    return info.frames;
}

// Samples sox reads from the file, independently of libsndfile's reading; -1 when it cannot.
long long soxFrames(const fs::path& path) {
    QProcess soxi;
    soxi.start("soxi", {"-s", QString::fromStdString(path.string())});
    if (!soxi.waitForFinished(20000) || soxi.exitCode() != 0) {
        return -1;
    }
    bool ok = false;
    const long long n = QString::fromUtf8(soxi.readAllStandardOutput()).trimmed().toLongLong(&ok);
    return ok ? n : -1;
}

std::vector<fs::path> keptRecordings(const fs::path& docs) {
    std::vector<fs::path> kept;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(docs / "recordings", ec)) {
        if (entry.path().extension() == ".caf") {
            kept.push_back(entry.path());
        }
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

std::string textOf(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using ProgramRecording = ProgramRun;

TEST_F(ProgramRecording, AKilledRecordingIsReadableWholeAndKeptAtTheNextStart) {
    start({"--input", "demo"});
    send("Space\nR\n");
    const auto caf = docsPath() / "output2.caf";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 2 * 44100; }, 20000));
    ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
    ASSERT_EQ(finish(), -2);

    // Every frame on disk is declared: the file is its header and the frames it says it holds.
    const long long frames = sndfileFrames(caf);
    ASSERT_GT(frames, 44100);
    EXPECT_LE(fileSize(caf) - static_cast<std::uintmax_t>(frames) * 2, 4096u);
    EXPECT_EQ(soxFrames(caf), frames);

    // The next start keeps it, named by when it was recorded, and makes output2.caf anew.
    start({"--input", "demo", "--duration", "1"});
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    const auto kept = keptRecordings(docsPath());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\d \d\d-\d\d-\d\d\.caf$)")
                    .match(QString::fromStdString(kept[0].filename().string()))
                    .hasMatch())
        << kept[0];
    EXPECT_EQ(sndfileFrames(kept[0]), frames);
    EXPECT_EQ(sndfileFrames(caf), 0);
}

TEST_F(ProgramRecording, AClosedTerminalEndsTheRecordingAsTheButtonWouldAndEachStartKeepsTheLast) {
    start({"--input", "demo"});
    send("Space\nR\n");
    const auto caf = docsPath() / "output2.caf";
    const auto motion = docsPath() / "rawAccel.out";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 2 * 22050; }, 20000));
    send("R\n");  // stop: the motion file is written
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(motion) >= 44; }, 20000));
    const long long first = sndfileFrames(caf);
    send("R\n");  // a new recording: the first is kept with its motion
    ASSERT_TRUE(QTest::qWaitFor([&] { return keptRecordings(docsPath()).size() == 1; }, 20000));
    EXPECT_FALSE(fs::exists(motion));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 2 * 22050; }, 20000));
    ::kill(static_cast<pid_t>(process_.processId()), SIGHUP);
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();

    const auto kept = keptRecordings(docsPath());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(sndfileFrames(kept[0]), first);
    fs::path keptMotion = kept[0];
    keptMotion.replace_filename(kept[0].stem().string() + " motion.wav");
    EXPECT_GT(sndfileFrames(keptMotion), 0) << keptMotion;
    // The second recording was ended at the hang-up: complete, with its own motion file.
    EXPECT_GT(sndfileFrames(caf), 22050);
    EXPECT_GE(fileSize(motion), 44u);
    EXPECT_GE(sndfileFrames(motion), 0);
}

TEST_F(ProgramRecording, ASecondProgramOnTheSameFolderSaysWhoHoldsItAndLeavesItAlone) {
    start({"--input", "demo"});
    send("Space\nR\n");
    const auto caf = docsPath() / "output2.caf";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 2 * 22050; }, 20000));

    QProcess second;
    QProcessEnvironment env = process_.processEnvironment();
    second.setProcessEnvironment(env);
    second.start(FM_PROGRAM,
                 {"--headless", "--input", "demo", "--duration", "5", "--documents", docs()});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 1);
    const QString said = QString::fromUtf8(second.readAllStandardError());
    EXPECT_TRUE(said.contains("in use by process " + QString::number(process_.processId())))
        << said.toStdString();
    EXPECT_TRUE(said.contains("--documents")) << said.toStdString();

    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    // The first program's recording is whole: a truncation under it would read as a block of
    // zeros (the demo signal never holds one).
    const auto recorded = readAll(caf);
    ASSERT_GT(recorded.size(), 22050u);
    const std::vector<std::int16_t> silentBlock(1024, 0);
    EXPECT_EQ(std::search(recorded.begin(), recorded.end(), silentBlock.begin(), silentBlock.end()),
              recorded.end());
    EXPECT_TRUE(keptRecordings(docsPath()).empty());
}

TEST_F(ProgramRecording, LinksInPlaceOfItsFilesAreReplacedAndTheirTargetsLeftAlone) {
    const std::vector<std::string> names = {"output2.caf", "output.wav", "rawAccel.out",
                                            "screen.png.part"};
    for (const auto& name : names) {
        std::ofstream(dir_ / (name + ".target")) << "not yours";
        fs::create_symlink(dir_ / (name + ".target"), docsPath() / name);
    }
    start({"--input", "demo"});
    send("Space\nR\n");
    const auto caf = docsPath() / "output2.caf";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 2 * 22050; }, 20000));
    send("R\n");
    const auto motion = docsPath() / "rawAccel.out";
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !fs::is_symlink(motion) && fileSize(motion) >= 44; }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(docsPath() / "screen.png"); }, 20000));
    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();

    for (const auto& name : names) {
        EXPECT_EQ(textOf(dir_ / (name + ".target")), "not yours") << name;
        EXPECT_FALSE(fs::is_symlink(docsPath() / name)) << name;
    }
    EXPECT_GT(sndfileFrames(caf), 22050);
    EXPECT_TRUE(stderr_.contains("output2.caf was a symbolic link")) << stderr_.toStdString();
}

// Qt ends the program when its display goes away; the recording must end properly first.
TEST_F(ProgramRecording, ALostDisplayEndsTheRecordingAsTheButtonWould) {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
        QStandardPaths::findExecutable("xdotool").isEmpty()) {
        GTEST_SKIP() << "needs Xvfb and xdotool";
    }
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "800x1000x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb.waitForStarted(10000));
    QByteArray number;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            number += xvfb.readAllStandardOutput();
            return number.contains('\n');
        },
        20000));
    const QString display = ":" + QString::fromUtf8(number).trimmed();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.insert("DISPLAY", display);
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    process_.setProcessEnvironment(env);
    process_.start(FM_PROGRAM, {"--input", "demo", "--scale", "1", "--documents", docs()});
    ASSERT_TRUE(process_.waitForStarted(10000));

    auto xdotool = [&](const QStringList& args) {
        QProcess x;
        QProcessEnvironment xenv = QProcessEnvironment::systemEnvironment();
        xenv.insert("DISPLAY", display);
        x.setProcessEnvironment(xenv);
        x.start("xdotool", args);
        x.waitForFinished(20000);
        return QString::fromUtf8(x.readAllStandardOutput()).trimmed();
    };
    const QString window =
        xdotool({"search", "--sync", "--onlyvisible", "--name", "fieldmeter"}).section('\n', 0, 0);
    ASSERT_FALSE(window.isEmpty());
    xdotool({"mousemove", "--window", window, "20", "20", "key", "space", "r"});
    const auto caf = docsPath() / "output2.caf";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 2 * 22050; }, 20000));

    xvfb.terminate();
    xvfb.waitForFinished(10000);
    ASSERT_NE(finish(), -1);
    EXPECT_GT(sndfileFrames(caf), 22050);
    EXPECT_GE(sndfileFrames(docsPath() / "rawAccel.out"), 0);
}

}  // namespace
}  // namespace fm::test
