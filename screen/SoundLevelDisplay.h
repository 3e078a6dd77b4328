#pragma once
// The sound levels on the screen: a small line on every page ("LAF 63.2 dB  LAeq 61.0"), in a
// part of the screen the page leaves free, the big read-out's choice between the raw level and LAF
// (key D), calibration from a reference source (key K), and the LAeq of each recording. The
// calibration and the read-out choice are kept between runs in the user's settings
// (~/.config/fieldmeter/fieldmeter.conf).
#include <QObject>
#include <QRect>
#include <QString>
#include <optional>

#include "measure/SoundLevelSnapshot.h"

class QLabel;
class QWidget;

namespace fm::screen {

// Set by the command line before the screen is made: --calibration (this run's offset, not
// kept) and --calibrate-to (the level the reference source produces, 94 dB unless given).
void setCalibrationOptions(std::optional<double> offsetDb, double calibrateToDb);

class SoundLevelDisplay : public QObject {
  public:
    // `screen` holds the line; `readout` and `caption` are the big read-out and its caption.
    SoundLevelDisplay(QWidget* screen, QLabel* readout, QLabel* caption);

    // The big read-out's text for this meter tick: the raw level, or LAF.
    QString readoutText(double rawLevel) const;
    // Every meter tick: the line, and a calibration under way.
    void tick();

    // Key D: the big read-out between the raw level and LAF; kept for the next run.
    void toggleReadout();
    bool readoutShowsLAF() const { return showLAF_; }

    // Key K: LZeq over the next 3 s becomes the reference level.
    void startCalibration();
    bool calibrating() const { return calibrationStart_.has_value(); }

    // A recording starts with the next captured block; when it stops its duration and LAeq go
    // to standard error and beside it (output2.caf: output2.txt).
    void recordingStarted();
    void recordingStopped(const QString& recordingPath);

    QLabel* line() const { return line_; }
    // Shows `text` on the line, in the band it was given, its font made smaller if it must.
    void showLine(const QString& text);
    // The free part of the screen the line may take on the page now shown (in the screen's
    // coordinates). A band at least kOneLineHeight high holds the text on one line across it;
    // a lower one cannot, and the text is wrapped at its spaces in the band as a column.
    void placeLineIn(const QRect& band);
    static constexpr int kOneLineHeight = 18;
    // The line's font size and the smallest it is made to fit its band, in pixels.
    static constexpr int kLinePixelSize = 11;
    static constexpr int kSmallestLinePixelSize = 8;

  private:
    void finishCalibration(const fm::measure::SoundLevelSnapshot& end);
    void showCaption();
    void fitLine();

    QLabel* line_;
    QRect band_;
    QLabel* readout_;
    QLabel* caption_;
    QString captionText_;
    bool showLAF_ = false;
    double calibrateToDb_ = 94.0;
    std::optional<fm::measure::SoundLevelSnapshot> calibrationStart_;
    std::optional<fm::measure::SoundLevelSnapshot> recordingStart_;
};

}  // namespace fm::screen
