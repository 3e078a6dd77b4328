#pragma once
// The one screen: its views and controls (loaded from the layout "ViewController"), its audio
// engine (the base class AudioEngine), its motion sources, and the actions of every control.
// Its member functions are defined in this folder, one file per concern: construction
// (ViewController.cpp), pages, the meter update, sliders, recording control, motion actions and
// file exports.
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "audio/AudioEngine.h"
#include "platform/motion/Accelerometer.h"
#include "platform/motion/MotionManager.h"
#include "toolkit/ScheduledTimer.h"
#include "toolkit/SwipeGestureRecognizer.h"

class QLabel;
class QScrollArea;

namespace fm::mail {
class MailExport;
}
namespace fm::platform {
class MailComposeDialog;
}
namespace fm::views {
class GraphView;
class BarGraph;
class ColorView;
class DirectionSensorView;
}  // namespace fm::views

namespace fm::screen {

class ImageButton;
class ImageView;
class FloatSlider;
class SoundLevelDisplay;

// 1 when the screen is 568 points high; set by construction.
extern std::uint8_t isTallScreen;
// Set once on a tall screen; from then on the screen no longer turns.
extern std::uint8_t rotationLocked;

// The phone's interface orientations and their bits.
enum InterfaceOrientation : int {
    InterfaceOrientationPortrait = 1,
    InterfaceOrientationPortraitUpsideDown = 2,
    InterfaceOrientationLandscapeLeft = 4,
    InterfaceOrientationLandscapeRight = 3,
};

// The interface orientations as bits of a mask: each orientation's bit is 1 shifted left by
// its value.
constexpr int interfaceOrientationBit(int interfaceOrientation) {
    return 1 << interfaceOrientation;
}

class ViewController : public QWidget,
                       public fm::audio::AudioEngine,
                       public fm::platform::AccelerometerDelegate {
    Q_OBJECT

  public:
    // The three pages, in the order a left swipe walks through them.
    enum Page : std::int32_t {
        kNoPage = 0,
        kBarsPage = 1,       // the level bars
        kDirectionPage = 2,  // the direction sensor
        kColourPage = 3,     // the colour flood
    };

    // Creates the controller for the layout `nibName`; the view is loaded on first use of
    // view(). `screenHeight` is the main screen's height in points (480, or 568 when tall).
    ViewController(const QString& nibName, double screenHeight, QWidget* parent = nullptr);
    ~ViewController() override;

    // Loads the layout and runs viewDidLoad() the first time; returns the controller's view.
    QWidget* view();
    bool isViewLoaded() const { return viewLoaded_; }

    // Actions of the controls and the view's life cycle.
    void instructionsTapped(QObject* sender);
    void switchWavSpectrum(QObject* sender);
    void sensitivySliderValueChanged(QObject* sender);
    void baseSliderValueChanged(QObject* sender);
    void highFreqSliderValueChanged(QObject* sender);
    void lowFreqSliderValueChanged(QObject* sender);
    void numPassLabelSliderValueChanged(QObject* sender);
    void didReceiveMemoryWarning();
    void setRMSPower(double power);
    void viewDidLoad();
    void handleViewsSwipe(fm::toolkit::SwipeGestureRecognizer* recognizer);
    void viewDidUnload();
    void viewWillAppear(bool animated);
    void viewDidAppear(bool animated);
    void viewWillDisappear(bool animated);
    void viewDidDisappear(bool animated);
    bool shouldAutorotateToInterfaceOrientation(int interfaceOrientation);
    bool shouldAutorotate();
    int supportedInterfaceOrientations() const;
    void updateCounter(fm::toolkit::ScheduledTimer* timer);
    void updateRMS(fm::toolkit::ScheduledTimer* timer);
    void writeRawAccelDataToFile();
    void processAndWriteToFile();
    void showAboutInstructions(QObject* sender);
    void hideAboutInstructions(QObject* sender);
    void togglePlay(QObject* sender);
    void programmaticPlay();
    // The program is quitting: a recording in progress ends as the record button ends it, then
    // capture stops and the files are closed. Does nothing the second time.
    void finishBeforeQuit();
    void mailFile(QObject* sender);
    void mailComposeControllerDidFinish(fm::platform::MailComposeDialog* controller, int result,
                                        const std::string& error);
    void accelerometerDidAccelerate(fm::platform::Accelerometer* accelerometer,
                                    const fm::platform::Acceleration& acceleration) override;
    void toggleUpdates();
    void doGyroUpdate();

    // The atomic isRecording property (sequentially consistent).
    signed char isRecording() const { return isRecording_.load(); }
    void setIsRecording(signed char value) { isRecording_.store(value); }

    // User-interface fields (the layout fills the views).
    ImageButton* playButton = nullptr;
    ImageButton* mailButton = nullptr;
    QLabel* timeLabel = nullptr;
    QLabel* highFreqLabel = nullptr;
    QLabel* lowFreqLabel = nullptr;
    QLabel* numPassLabel = nullptr;
    QLabel* rmsPower = nullptr;
    FloatSlider* highFreqSlider = nullptr;
    FloatSlider* lowFreqSlider = nullptr;
    FloatSlider* numPassSlider = nullptr;
    fm::platform::Accelerometer* accelerometer = nullptr;
    fm::views::GraphView* waveformGraph = nullptr;
    fm::views::GraphView* historyGraph = nullptr;
    fm::views::BarGraph* powerBar = nullptr;
    fm::views::BarGraph* powerBar2 = nullptr;
    std::unique_ptr<fm::platform::MotionManager> motionManager;
    // The page on show; none until viewDidLoad().
    Page overlayMode = kNoPage;
    fm::views::ColorView* colorOverlay = nullptr;
    fm::views::GraphView* spectrumGraph = nullptr;
    fm::views::DirectionSensorView* dsensorView = nullptr;
    ImageView* graphOverlay = nullptr;
    FloatSlider* sensitivySlider = nullptr;
    FloatSlider* baseSlider = nullptr;
    ImageButton* instructionsOverlay = nullptr;
    QScrollArea* aboutInstructions = nullptr;
    ImageButton* infoButton = nullptr;
    ImageButton* closeButton = nullptr;
    ImageView* waveformTextImage = nullptr;

    // The one running meter timer (a recording start adds none while it runs).
    const std::shared_ptr<fm::toolkit::ScheduledTimer>& meterTimer() const { return meterTimer_; }
    // The repeating 1.0 s timer that advances the elapsed-time counter.
    const std::shared_ptr<fm::toolkit::ScheduledTimer>& counterTimer() const {
        return counterTimer_;
    }
    // The repeating 1/30 s timer that polls the gyroscope.
    const std::shared_ptr<fm::toolkit::ScheduledTimer>& gyroTimer() const { return gyroTimer_; }
    // The swipe recognizers added to the view.
    const std::vector<fm::toolkit::SwipeGestureRecognizer*>& swipeRecognizers() const {
        return swipeRecognizers_;
    }
    // The size of the level read-out's digits, in points; a level too wide for it is shown
    // smaller.
    static constexpr int kReadOutFontSize = 52;

    // The screen's height in points, as given at creation.
    double screenHeight() const { return screenHeight_; }
    // The sound levels line, the read-out's choice and calibration; made by viewDidLoad().
    fm::screen::SoundLevelDisplay* soundLevelDisplay() const { return soundLevels_; }
    // True while there is no input: its start failed or it was lost. The meters show silence,
    // nothing records and the title says so, until a start (the record button) succeeds.
    bool hasNoInput() const { return noInput_; }
    // Called with each meter update: notices an input that ended or was lost since the start.
    void watchInput();
    // Returns once the motion file of the last stopped recording ("rawAccel.out", written on a
    // thread of its own) is complete; at once when none is being written. A quit calls it (the
    // destructor does too) so that stopping a recording just before the end loses nothing.
    void finishMotionFile();

  signals:
    // A permitted change of the device orientation: the window turns the screen to it.
    void interfaceOrientationChanged(int interfaceOrientation);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    void loadView();
    void connectActions();
    void showPage(Page page);
    // The free part of the screen where the sound-level line goes on `page`.
    QRect soundLevelLineBand(Page page) const;
    void deviceOrientationDidChange(int deviceOrientation);
    void startMeterTimerIfNone();
    void saveRecordedMotion();
    void endRecording();
    void showNoInput(const std::string& reason);
    void leaveNoInput();
    void retryMicrophone();
    fm::mail::MailExport& mailExport();

    QString nibName_;
    double screenHeight_;
    bool viewLoaded_ = false;
    bool viewDidLoadRan_ = false;
    std::atomic<signed char> isRecording_{0};
    std::shared_ptr<fm::toolkit::ScheduledTimer> meterTimer_;
    std::shared_ptr<fm::toolkit::ScheduledTimer> counterTimer_;
    std::shared_ptr<fm::toolkit::ScheduledTimer> gyroTimer_;
    // While a microphone is missing: tries it again every 5 s.
    std::shared_ptr<fm::toolkit::ScheduledTimer> retryTimer_;
    std::vector<fm::toolkit::SwipeGestureRecognizer*> swipeRecognizers_;
    double recordingStartMs_ = 0.0;
    bool noInput_ = false;
    QString titleWithInput_;
    std::uint64_t inputEndSeenAtStart_ = 0;
    // The last change in the microphone's deliveries: a stream that stops delivering is lost.
    std::uint64_t deliveriesSeen_ = 0;
    std::uint64_t deliveriesSeenAtStart_ = 0;
    std::chrono::steady_clock::time_point deliveriesChangedAt_;
    std::chrono::steady_clock::time_point inputWatchedAt_;
    std::unique_ptr<fm::mail::MailExport> mailExport_;
    fm::screen::SoundLevelDisplay* soundLevels_ = nullptr;  // a child of the screen
};

}  // namespace fm::screen
