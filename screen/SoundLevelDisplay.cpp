#include "screen/SoundLevelDisplay.h"

#include <QFontMetrics>
#include <QLabel>
#include <QSaveFile>
#include <QSettings>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "measure/Measurement.h"
#include "measure/SoundLevels.h"
#include "platform/documents/DocumentsFolder.h"
#include "screen/FittedText.h"

namespace fm::screen {

namespace {

using fm::measure::Calibration;
using fm::measure::InputKind;
using fm::measure::SoundLevelSnapshot;
using fm::measure::Weighting;

Calibration* gCalibration = nullptr;
bool gConfirm = true;
std::function<bool()> gEventUnderWay;
std::function<std::vector<std::string>()> gRaisedLimits;

// The first raised limit's name, short, and how many more: "night!", "site-noi..+1!".
QString raisedLimitsText() {
    const std::vector<std::string> names =
        gRaisedLimits ? gRaisedLimits() : std::vector<std::string>{};
    if (names.empty()) {
        return {};
    }
    QString text = QString::fromStdString(names.front());
    if (text.size() > 10) {
        text = text.left(8) + QStringLiteral("..");
    }
    if (names.size() > 1) {
        text += QStringLiteral("+%1").arg(names.size() - 1);
    }
    return text + QStringLiteral("! ");
}

// Room beside and above the line's text, inside its backdrop.
constexpr int kPaddingX = 5;
constexpr int kPaddingY = 1;

QFont lineFont(int pixelSize) {
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setBold(true);
    font.setPixelSize(pixelSize);
    return font;
}

// Where `text` lies in `font` when wrapped at its spaces to `width`; one line when width is 0.
QRect textRect(const QFont& font, const QString& text, int width) {
    const QFontMetrics metrics(font);
    if (width <= 0) {
        return metrics.boundingRect(QRect(0, 0, 0, 0), Qt::AlignLeft | Qt::TextSingleLine, text);
    }
    return metrics.boundingRect(QRect(0, 0, width, 100000), Qt::AlignLeft | Qt::TextWordWrap, text);
}

QSettings userSettings() {
    return QSettings(QStringLiteral("fieldmeter"), QStringLiteral("fieldmeter"));
}

QString db(double v) {
    return QString::asprintf("%.1f", v);
}

QString unit(bool calibrated) {
    return QString::fromLatin1(fm::measure::levelUnit(calibrated));
}

void say(const std::string& line) {
    std::fprintf(stderr, "fieldmeter: %s\n", line.c_str());
}

// The line's words for an input that delivers nothing.
QString noInputText(InputKind input) {
    switch (input) {
        case InputKind::Ended:
            return QStringLiteral("no input (the file ended)");
        case InputKind::Lost:
            return QStringLiteral("no input (microphone lost)");
        default:
            return QStringLiteral("no input");
    }
}

std::vector<double> bandEnergies() {
    const fm::measure::BandLevels bands = fm::measure::measurement().bandLevels();
    return {bands.energy.begin(), bands.energy.end()};
}

}  // namespace

void setCalibration(fm::measure::Calibration* calibration, bool confirm) {
    gCalibration = calibration;
    gConfirm = confirm;
}

void setEventUnderWay(std::function<bool()> underWay) {
    gEventUnderWay = std::move(underWay);
}

void setRaisedLimits(std::function<std::vector<std::string>()> raised) {
    gRaisedLimits = std::move(raised);
}

SoundLevelDisplay::SoundLevelDisplay(QWidget* screen, QLabel* readout, QLabel* caption)
    : QObject(screen), line_(new QLabel(screen)), readout_(readout), caption_(caption) {
    line_->setObjectName(QStringLiteral("soundLevelLine"));
    line_->setAlignment(Qt::AlignCenter);
    // Its own dark backdrop keeps it legible over the colour page. The font is set, not styled,
    // so that it can be made smaller to fit.
    line_->setStyleSheet(
        QStringLiteral("QLabel#soundLevelLine { color: #e2e8f0; background-color: rgb(13, 17, 23);"
                       " border-radius: 3px; }"));
    line_->setContentsMargins(kPaddingX, kPaddingY, kPaddingX, kPaddingY);
    line_->show();
    if (caption_ != nullptr) {
        captionText_ = caption_->text();
    }
    showLAF_ = userSettings().value(QStringLiteral("readout/showLAF"), false).toBool();
    showCaption();
    tick();
}

SoundLevelDisplay::~SoundLevelDisplay() {
    delete question_;
}

QString SoundLevelDisplay::readoutText(double rawLevel) const {
    if (showLAF_) {
        if (!fm::measure::measurement().measuring()) {
            return QStringLiteral("--.-");
        }
        return db(fm::measure::readSoundLevels().LAF);
    }
    return QString::asprintf("%.02f", rawLevel);
}

void SoundLevelDisplay::showCaption() {
    if (caption_ == nullptr) {
        return;
    }
    const bool calibrated = fm::measure::readSoundLevels().calibrated;
    caption_->setText(showLAF_ ? QStringLiteral("LAF ") + unit(calibrated) : captionText_);
}

void SoundLevelDisplay::toggleReadout() {
    showLAF_ = !showLAF_;
    userSettings().setValue(QStringLiteral("readout/showLAF"), showLAF_);
    showCaption();
}

bool SoundLevelDisplay::calibrating() const {
    return gCalibration != nullptr && gCalibration->measuring();
}

void SoundLevelDisplay::startCalibration() {
    if (gCalibration == nullptr || question_ != nullptr) {
        return;
    }
    const std::string why = gCalibration->start(fm::measure::measurement().input(),
                                                fm::measure::readSoundLevels(), bandEnergies());
    if (!why.empty()) {
        say("calibration: " + why + "; nothing changed");
        showNotice(QString::fromStdString("K: " + why));
        return;
    }
    say("calibrating: play the " + db(gCalibration->referenceDb()).toStdString() +
        " dB reference steadily for 3 s");
    tick();
}

void SoundLevelDisplay::finishCalibration(const Calibration::Proposal& proposal) {
    if (!gConfirm) {
        keepCalibration(proposal);
        return;
    }
    // The window shows the result before it is used.
    QString text = QString::fromStdString("Measured: " + proposal.summary);
    if (!proposal.drift.empty()) {
        text += QString::fromStdString("\nChange: " + proposal.drift);
    }
    say("calibration measured: " + proposal.summary + "; Keep (Return) or Cancel (Escape)?");
    question_ = new CalibrationQuestion(
        line_->window(), QStringLiteral("Calibration"), text, [this, proposal](bool keep) {
            question_ = nullptr;  // answered: K may ask again, though the box closes later
            if (keep) {
                keepCalibration(proposal);
            } else {
                say("calibration cancelled; it stays as it was");
            }
            showCaption();
        });
}

void SoundLevelDisplay::keepCalibration(const Calibration::Proposal& proposal) {
    std::string error;
    const bool kept = gCalibration->keep(proposal, Calibration::Clock::now(), &error);
    say("calibrated: " + proposal.summary);
    if (!proposal.drift.empty()) {
        say("calibration change: " + proposal.drift);
    }
    if (!kept) {
        say("cannot keep the calibration for the next runs: " + error +
            "; it is used for this run");
    }
    showCaption();
}

void SoundLevelDisplay::tick() {
    const SoundLevelSnapshot levels = fm::measure::readSoundLevels();
    const InputKind input = fm::measure::measurement().input();
    if (calibrating()) {
        const auto proposal = gCalibration->tick(input, levels, bandEnergies());
        if (proposal) {
            finishCalibration(*proposal);
        } else if (!gCalibration->measuring()) {
            say("calibration refused: " + gCalibration->refusal());
            const std::string& why = gCalibration->refusal();
            showNotice(
                QString::fromStdString("K refused: " + why.substr(0, why.find_first_of(":;"))));
        } else {
            showLine(QStringLiteral("CALIBRATING %1 dB  %2 s")
                         .arg(db(gCalibration->referenceDb()),
                              QString::number(gCalibration->measuredSeconds(levels), 'f', 1)));
            return;
        }
    }
    if (!notice_.isEmpty() && std::chrono::steady_clock::now() < noticeUntil_) {
        showLine(notice_);
        return;
    }
    notice_.clear();
    if (!fm::measure::hasLevels(input)) {
        showLine(noInputText(input));
        return;
    }
    QString text = raisedLimitsText();
    if (gEventUnderWay && gEventUnderWay()) {
        text += QStringLiteral("EVENT ");
    }
    if (input == InputKind::Demo) {
        text += QStringLiteral("DEMO ");
    }
    if (levels.overloadSamples1s > 0) {
        text += QStringLiteral("OVL ");
    }
    // Input lost (a stall, an overflowing interface): said while it goes on and a little after.
    const auto steadyNow = std::chrono::steady_clock::now();
    if (const std::uint64_t lost = fm::measure::measurement().lostFrames(); lost != lostSeen_) {
        lostSeen_ = lost;
        lostUntil_ = steadyNow + std::chrono::seconds(3);
    }
    if (steadyNow < lostUntil_) {
        text += QStringLiteral("LOST ");
    }
    text += QStringLiteral("LAF ") + db(levels.LAF) + QLatin1Char(' ') + unit(levels.calibrated) +
            QStringLiteral("  ");
    if (recordingStart_) {
        text += QStringLiteral("REC LAeq ") +
                db(fm::measure::equivalentLevelDb(*recordingStart_, levels, Weighting::A));
    } else {
        text += QStringLiteral("LAeq ") + db(levels.LAeq);
    }
    // Once anything overloaded, the run's LAeq carries the mark for good.
    if (levels.overloadSamples > 0) {
        text += QStringLiteral(" [OVL]");
    }
    showLine(text);
}

void SoundLevelDisplay::showNotice(const QString& text) {
    // Long enough to be read before the levels take the line back.
    notice_ = text;
    noticeUntil_ = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    showLine(text);
}

void SoundLevelDisplay::showLine(const QString& text) {
    if (text == line_->text()) {
        return;
    }
    line_->setText(text);
    fitLine();
}

void SoundLevelDisplay::placeLineIn(const QRect& band) {
    band_ = band;
    fitLine();
}

void SoundLevelDisplay::fitLine() {
    if (band_.isEmpty()) {
        return;  // not placed yet
    }
    // Fitted once per shape of the text in its band: the readings change every tick, the room
    // they need seldom does.
    const QString text = digitsAsEights(line_->text());
    if (text == fittedShape_ && band_ == fittedBand_) {
        return;
    }
    fittedShape_ = text;
    fittedBand_ = band_;
    const int roomX = band_.width() - 2 * kPaddingX;
    const int roomY = band_.height() - 2 * kPaddingY;
    // One line across the band at the largest size that fits it; failing that, wrapped at the
    // spaces as a column; never so small that it cannot be read.
    QFont font = lineFont(kLinePixelSize);
    QRect inside;
    bool oneLine = false;
    for (int wrapWidth : {0, roomX}) {
        if (wrapWidth == 0 && band_.height() < kOneLineHeight) {
            continue;
        }
        for (int size = kLinePixelSize; size >= kSmallestLinePixelSize; --size) {
            font.setPixelSize(size);
            inside = textRect(font, text, wrapWidth);
            if (inside.width() <= roomX && inside.height() <= roomY) {
                oneLine = wrapWidth == 0;
                break;
            }
        }
        if (inside.width() <= roomX && inside.height() <= roomY) {
            break;
        }
    }
    if (line_->font() != font) {
        line_->setFont(font);
    }
    line_->setWordWrap(!oneLine);
    // Only as large as its text, in the middle of the band: it covers as little as it can.
    const int width = std::min(band_.width(), inside.width() + 2 * kPaddingX);
    const int height =
        oneLine ? kOneLineHeight : std::min(band_.height(), inside.height() + 2 * kPaddingY);
    line_->setGeometry(band_.left() + (band_.width() - width) / 2,
                       band_.top() + (band_.height() - height) / 2, width, height);
}

void SoundLevelDisplay::recordingStarted() {
    // Everything the last engine captured counts before the recording, nothing of it after.
    fm::measure::measurement().settle();
    recordingStart_ = fm::measure::readSoundLevels();
    recordingInput_ = fm::measure::measurement().input();
}

void SoundLevelDisplay::recordingStopped(const QString& recordingPath) {
    if (!recordingStart_) {
        return;
    }
    const QString summaryPath = recordingPath.left(recordingPath.lastIndexOf('.')) + ".txt";
    fm::measure::measurement().settle();
    const SoundLevelSnapshot end = fm::measure::readSoundLevels();
    const SoundLevelSnapshot start = *recordingStart_;
    recordingStart_.reset();
    const double seconds = static_cast<double>(end.framesCaptured - start.framesCaptured) /
                           fm::measure::soundLevelMeter().sampleRate();
    const double laeq = fm::measure::equivalentLevelDb(start, end, Weighting::A);
    const QString u = unit(end.calibrated);
    std::fprintf(stderr, "fieldmeter: recording %.1f s, LAeq %.1f %s\n", seconds, laeq,
                 qPrintable(u));
    QString text = QStringLiteral("duration %1 s\nLAeq %2 %3\n")
                       .arg(QString::number(seconds, 'f', 1), db(laeq), u);
    text += end.calibrated ? QStringLiteral("calibrated: 0 dBFS = %1 dB\n")
                                 .arg(QString::number(end.calibrationOffsetDb, 'f', 2))
                           : QStringLiteral("uncalibrated: levels in dBFS\n");
    // What it was recorded from, and how that ended when it did before the recording.
    const auto input = fm::measure::measurement().input();
    QString from = fm::measure::inputKindName(recordingInput_);
    if (input != recordingInput_ && !fm::measure::hasLevels(input)) {
        from += QStringLiteral(", ") + fm::measure::inputKindName(input);
    }
    text += QStringLiteral("input %1\noverload %2 samples\n")
                .arg(from)
                .arg(end.overloadSamples - start.overloadSamples);
    const std::string& correction = fm::measure::micCorrectionInUse();
    text +=
        correction.empty()
            ? QStringLiteral("microphone correction: none\n")
            : QStringLiteral("microphone correction: %1\n").arg(QString::fromStdString(correction));
    if (!fm::platform::ensureDocumentsFolderReporting()) {
        return;  // said already, when the folder became unusable
    }
    QSaveFile file(summaryPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0 ||
        !file.commit()) {
        std::fprintf(stderr, "fieldmeter: cannot write %s: %s\n", qPrintable(summaryPath),
                     qPrintable(file.errorString()));
    }
}

}  // namespace fm::screen
