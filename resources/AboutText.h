#pragma once
// The words of the about page, drawn into "instructionsInApp@2x.png".
#include <QString>
#include <vector>

namespace fm::about {

enum class Kind { Title, Heading, Paragraph, Item };

struct Block {
    Kind kind;
    QString text;
};

inline std::vector<Block> blocks() {
    return {
        {Kind::Title, "How to use fieldmeter"},
        {Kind::Paragraph,
         "fieldmeter listens to the sound around you and shows it as a live field: a number, "
         "a waveform or a spectrum, a history of the level, and, on its other pages, a ring "
         "of readings placed by the way you turn the device, or a colour that fills the "
         "whole screen."},
        {Kind::Heading, "The number"},
        {Kind::Paragraph,
         "The big seven-segment number is the level of the latest block of sound: its "
         "root-mean-square in raw sample units, times the gain, minus the base level, never "
         "below zero. Silence reads 0.00. It is refreshed ten times a second."},
        {Kind::Heading, "The top graph"},
        {Kind::Paragraph,
         "The top graph shows the waveform of the latest block, or its spectrum in 320 bands "
         "from low to high frequencies. Tap the graph or its caption to switch; the caption "
         "always names what is shown."},
        {Kind::Heading, "The history"},
        {Kind::Paragraph,
         "Below it, the history draws the level over the last 32 seconds, one column every "
         "tenth of a second. The marker shows the newest column; the oldest is written over "
         "as the marker moves on."},
        {Kind::Heading, "Three pages"},
        {Kind::Paragraph,
         "Swipe left and right, or press the arrow keys, to change the page. The pages do not "
         "wrap around."},
        {Kind::Item,
         "Bars: two bars rise with the level on a logarithmic scale, under the number."},
        {Kind::Item,
         "Direction: a ring of 360 degrees. Each reading is painted at the angle the device "
         "faces, and fades as it ages. Turn the device, or press [ and ] to turn it by ten "
         "degrees, to map where the sound comes from."},
        {Kind::Item,
         "Colour: the whole screen takes a colour that runs from black through blue, yellow "
         "and orange to red as the level grows, and for the loudest sounds from orange to "
         "white. The record button is hidden on this page."},
        {Kind::Heading, "The sliders"},
        {Kind::Item,
         "GAIN multiplies the level by the square of its value. Raise it in a quiet room."},
        {Kind::Item,
         "BASE is taken off the level, from 0 to 100: raise it to ignore a steady hum."},
        {Kind::Item,
         "HIGH, LOW and PASS keep a frequency band and a pass count for later use; their "
         "values are shown beside them."},
        {Kind::Heading, "Recording"},
        {Kind::Paragraph,
         "Press the red button (or R) to record. The engine restarts with fresh files, and "
         "every block of sound is written to \"output2.caf\" in the documents folder: "
         "~/Documents/fieldmeter unless you chose another. The clock counts from 00:00. "
         "Press again to stop; the meters keep running. Before a new recording (or the next "
         "start) replaces it, the last one is kept in the \"recordings\" folder there, named "
         "by the date and time it was recorded, with its motion sound."},
        {Kind::Paragraph,
         "Past 400 seconds the clock warns you to stop: the file grows by about 88 kilobytes "
         "a second."},
        {Kind::Paragraph,
         "When a recording stops, the device's motion while it ran is written beside it as "
         "\"rawAccel.out\", a sound made from the accelerometer."},
        {Kind::Heading, "Mail"},
        {Kind::Paragraph,
         "The envelope button (or M) opens a mail with the last recording attached as "
         "\"spookySounds.wav\". Send hands it to your system's mail transport (sendmail) "
         "while the meters keep running; without one, the recording goes to your desktop's "
         "own mail program. Save Draft keeps it in the Drafts folder beside your recordings."},
        {Kind::Heading, "Keys"},
        {Kind::Item, "Right and Left arrows: next and previous page"},
        {Kind::Item, "R: record or stop. M: mail. W: waveform or spectrum"},
        {Kind::Item, "I: this page. Escape or the \u00d7 button: close it"},
        {Kind::Item, "Space or Enter: tap the cover away"},
        {Kind::Item, "[ and ]: turn the device by ten degrees"},
        {Kind::Heading, "Where the sound comes from"},
        {Kind::Paragraph,
         "fieldmeter captures the default microphone. Start it with --input FILE to play an "
         "audio file instead, or --input demo for its own demo signal, which it also plays "
         "when no microphone can be opened; the window title then says \"(demo input)\". "
         "--list-devices names the capture devices, --capture-device picks one."},
        {Kind::Heading, "Motion"},
        {Kind::Paragraph,
         "On a device with Linux IIO motion sensors fieldmeter reads its accelerometer and "
         "gyroscope. --motion FILE replays lines of seconds, z in g and yaw in radians. On "
         "a desktop, the keys [ and ] and the mouse wheel turn the device."},
        {Kind::Heading, "Sound levels"},
        {Kind::Paragraph,
         "D shows LAF in the read-out. K calibrates from a calibrator's steady tone; "
         "--forget-calibration forgets it."},
        {Kind::Heading, "Without a display"},
        {Kind::Paragraph,
         "With --headless, or when no display is found, fieldmeter draws off screen and "
         "saves the screen as screen.png in the documents folder every second. "
         "--duration SECONDS ends it cleanly."},
    };
}

}  // namespace fm::about
