#include "screen/SoundLevelDisplay.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QLabel>
#include <QSaveFile>
#include <QSettings>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "measure/SoundLevels.h"
#include "platform/documents/DocumentsFolder.h"

namespace fm::screen {

namespace {

using fm::measure::SoundLevelSnapshot;
using fm::measure::Weighting;

std::optional<double> gOffsetOption;
double gCalibrateTo = 94.0;

constexpr double kCalibrationSeconds = 3.0;

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

}  // namespace

void setCalibrationOptions(std::optional<double> offsetDb, double calibrateToDb) {
    gOffsetOption = offsetDb;
    gCalibrateTo = calibrateToDb;
}

SoundLevelDisplay::SoundLevelDisplay(QWidget* screen, QLabel* readout, QLabel* caption)
    : QObject(screen),
      line_(new QLabel(screen)),
      readout_(readout),
      caption_(caption),
      calibrateToDb_(gCalibrateTo) {
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

    QSettings settings = userSettings();
    showLAF_ = settings.value(QStringLiteral("readout/showLAF"), false).toBool();
    auto& meter = fm::measure::soundLevelMeter();
    if (gOffsetOption) {
        meter.setCalibration(*gOffsetOption, true);
        std::fprintf(stderr, "fieldmeter: calibration for this run: 0 dBFS = %.1f dB\n",
                     *gOffsetOption);
    } else {
        bool ok = false;
        const double saved = settings.value(QStringLiteral("calibration/offsetDb")).toDouble(&ok);
        if (ok && std::isfinite(saved)) {
            meter.setCalibration(saved, true);
            std::fprintf(stderr, "fieldmeter: calibrated on %s: 0 dBFS = %.1f dB\n",
                         qPrintable(settings.value(QStringLiteral("calibration/date")).toString()),
                         saved);
        } else {
            meter.setCalibration(0.0, false);
        }
    }
    showCaption();
    tick();
}

QString SoundLevelDisplay::readoutText(double rawLevel) const {
    if (showLAF_) {
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

void SoundLevelDisplay::startCalibration() {
    if (calibrationStart_) {
        return;  // one at a time: the one under way ends first
    }
    calibrationStart_ = fm::measure::readSoundLevels();
    std::fprintf(stderr, "fieldmeter: calibrating: play the %.1f dB reference for %.0f s\n",
                 calibrateToDb_, kCalibrationSeconds);
    tick();
}

void SoundLevelDisplay::finishCalibration(const SoundLevelSnapshot& end) {
    const SoundLevelSnapshot start = *calibrationStart_;
    calibrationStart_.reset();
    const double dbfs = fm::measure::equivalentLevelDb(start, end, Weighting::Z, false);
    if (dbfs <= fm::measure::kLevelFloorDb) {
        std::fprintf(stderr,
                     "fieldmeter: calibration failed: no sound in the %.0f s; the calibration "
                     "stays as it was\n",
                     kCalibrationSeconds);
        return;
    }
    const double offset = calibrateToDb_ - dbfs;
    const QString date = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    fm::measure::soundLevelMeter().setCalibration(offset, true);
    QSettings settings = userSettings();
    settings.setValue(QStringLiteral("calibration/offsetDb"), offset);
    settings.setValue(QStringLiteral("calibration/date"), date);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        std::fprintf(stderr, "fieldmeter: cannot keep the calibration in %s\n",
                     qPrintable(settings.fileName()));
    }
    std::fprintf(stderr,
                 "fieldmeter: calibrated: LZeq %.2f dBFS reads %.1f dB (0 dBFS = %.2f dB)\n", dbfs,
                 calibrateToDb_, offset);
    showCaption();
}

void SoundLevelDisplay::tick() {
    const SoundLevelSnapshot now = fm::measure::readSoundLevels();
    if (calibrationStart_) {
        const double seconds =
            static_cast<double>(now.framesCaptured - calibrationStart_->framesCaptured) /
            fm::measure::soundLevelMeter().sampleRate();
        if (seconds >= kCalibrationSeconds) {
            finishCalibration(now);
        } else {
            showLine(QStringLiteral("CALIBRATING %1 dB  %2 s")
                         .arg(db(calibrateToDb_), QString::number(seconds, 'f', 1)));
            return;
        }
    }
    const SoundLevelSnapshot levels = fm::measure::readSoundLevels();
    QString text = QStringLiteral("LAF ") + db(levels.LAF) + QLatin1Char(' ') +
                   unit(levels.calibrated) + QStringLiteral("  ");
    if (recordingStart_) {
        text += QStringLiteral("REC LAeq ") +
                db(fm::measure::equivalentLevelDb(*recordingStart_, levels, Weighting::A));
    } else {
        text += QStringLiteral("LAeq ") + db(levels.LAeq);
    }
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
    const QString text = line_->text();
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
    recordingStart_ = fm::measure::readSoundLevels();
}

void SoundLevelDisplay::recordingStopped(const QString& recordingPath) {
    if (!recordingStart_) {
        return;
    }
    const QString summaryPath = recordingPath.left(recordingPath.lastIndexOf('.')) + ".txt";
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
