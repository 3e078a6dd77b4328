#pragma once
// The sound levels on the screen: a small line on every page ("LAF 63.2 dB  LAeq 61.0", or why
// there is no level), in a part of the screen the page leaves free, the big read-out's choice
// between the raw level and LAF (key D, kept in the user's settings), the key K that calibrates
// from a reference source through the program's calibration (measure/Calibration.h), and the
// LAeq of each recording.
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "measure/Calibration.h"
#include "measure/SecondRecord.h"
#include "measure/SoundLevelSnapshot.h"
#include "screen/CalibrationQuestion.h"

class QLabel;
class QWidget;

namespace fm::screen {

// Set by the program before the screen is made: the calibration K works through (null: K says
// so and does nothing), and whether a measured calibration is shown with Keep and Cancel before
// it is used (the window) or kept at once and printed (headless).
void setCalibration(fm::measure::Calibration* calibration, bool confirm);
// Set by the program: whether a loud moment is being captured now ("EVENT" on the line).
void setEventUnderWay(std::function<bool()> underWay);
// Set by the program: the names of the limits raised now ("night!" on the line).
void setRaisedLimits(std::function<std::vector<std::string>()> raised);

class SoundLevelDisplay : public QObject {
  public:
    // `screen` holds the line; `readout` and `caption` are the big read-out and its caption.
    SoundLevelDisplay(QWidget* screen, QLabel* readout, QLabel* caption);
    ~SoundLevelDisplay() override;

    // The big read-out's text for this meter tick: the raw level, or LAF.
    QString readoutText(double rawLevel) const;
    // Every meter tick: the line, and a calibration under way.
    void tick();

    // Key D: the big read-out between the raw level and LAF; kept for the next run.
    void toggleReadout();
    bool readoutShowsLAF() const { return showLAF_; }

    // Key K: LZeq of a steady reference over the next 3 s becomes its level.
    void startCalibration();
    bool calibrating() const;
    // The window's question about a measured calibration, while it is open.
    CalibrationQuestion* calibrationQuestion() const { return question_; }

    // A recording starts with the next captured block; when it stops its duration and LAeq go
    // to standard error and beside it (output2.caf: output2.txt).
    void recordingStarted();
    void recordingStopped(const QString& recordingPath);
    // The recording could not start after all (its file could not be made).
    void recordingCancelled() { recordingStart_.reset(); }

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
    // Shows `text` on the line for a few seconds instead of the levels.
    void showNotice(const QString& text);
    void finishCalibration(const fm::measure::Calibration::Proposal& proposal);
    void keepCalibration(const fm::measure::Calibration::Proposal& proposal);
    void showCaption();
    void fitLine();

    QLabel* line_;
    QRect band_;
    QString fittedShape_;  // what the line's size was last found for, in that band
    QRect fittedBand_;
    QLabel* readout_;
    QLabel* caption_;
    QString captionText_;
    bool showLAF_ = false;
    QPointer<CalibrationQuestion> question_;
    QString notice_;
    std::chrono::steady_clock::time_point noticeUntil_{};
    std::optional<fm::measure::SoundLevelSnapshot> recordingStart_;
    std::uint64_t lostSeen_ = 0;  // the measurement's lost frames when last looked at
    std::chrono::steady_clock::time_point lostUntil_{};
    fm::measure::InputKind recordingInput_ = fm::measure::InputKind::None;
};

}  // namespace fm::screen
