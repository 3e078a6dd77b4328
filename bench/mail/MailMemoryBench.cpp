// How much memory mailing a long recording takes: a recording of FM_MAIL_MINUTES minutes
// (60 by default) is written as the engine writes it, then the mail button is pressed and Send
// clicked, with a sendmail that reads the whole message. The resident size is sampled every
// 20 ms from idle (composer not yet open) to the outcome; the figure is the peak above idle.
#include <sndfile.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSummary.h"
#include "mail/MailExport.h"
#include "platform/documents/DocumentsFolder.h"
#include "platform/mail/MailComposeDialog.h"

namespace {

double residentMb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0.0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const char* minutesText = std::getenv("FM_MAIL_MINUTES");
    const int minutes = minutesText != nullptr ? std::atoi(minutesText) : 60;

    char pattern[] = "/tmp/fm-mail-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path folder = pattern;
    fm::platform::setDocumentsFolder(folder.string());
    const std::string recording = (folder / "output2.caf").string();
    {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 1;
        info.format = SF_FORMAT_CAF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
        SNDFILE* f = sf_open(recording.c_str(), SFM_WRITE, &info);
        std::vector<short> block(44100);
        for (int s = 0; s < minutes * 60; ++s) {
            for (std::size_t i = 0; i < block.size(); ++i) {
                block[i] = static_cast<short>((i * 37 + static_cast<std::size_t>(s)) % 60000);
            }
            sf_write_short(f, block.data(), static_cast<sf_count_t>(block.size()));
        }
        sf_close(f);
    }
    const std::filesystem::path sendmail = folder / "sendmail";
    std::ofstream(sendmail) << "#!/bin/sh\nexec cat > /dev/null\n";
    std::filesystem::permissions(sendmail, std::filesystem::perms::owner_all);
    setenv("SENDMAIL", sendmail.c_str(), 1);

    std::string outcome;
    fm::mail::MailExportHooks hooks;
    hooks.recordingPath = [&] { return recording; };
    hooks.log = [&](const std::string& line) { outcome = line; };
    fm::mail::MailExport mailExport(hooks);

    QApplication::processEvents();
    const double idle = residentMb();
    double peak = idle;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { peak = std::max(peak, residentMb()); });
    sampler.start(20);
    const auto start = std::chrono::steady_clock::now();
    fm::platform::MailComposeDialog* composer = mailExport.mailFile();
    if (composer == nullptr) {
        std::fprintf(stderr, "the composer did not open\n");
        return 1;
    }
    composer->sendButton()->click();
    while (outcome.empty()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    peak = std::max(peak, residentMb());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::filesystem::remove_all(folder);

    std::printf("%d minutes mailed in %.1f s: %s\nresident: idle %.1f MB, peak %.1f MB\n", minutes,
                seconds, outcome.c_str(), idle, peak);
    fm::bench::recordSummary("mail_" + std::to_string(minutes) + "min_rss_above_idle_mb",
                             peak - idle);
    return outcome.rfind("Mail send:", 0) == 0 ? 0 : 1;
}
