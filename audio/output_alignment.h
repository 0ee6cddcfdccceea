#pragma once

#include <chrono>

// Where an output plays against the pipeline's clock, kept in line. A sound
// server may start a new stream a good while after it is first written to
// (a null sink or a Bluetooth headset, up to seconds), its clock standing
// still until then: so far off, an output is put right at once. From then
// on it is held within a couple of milliseconds of the clock as the two
// drift apart; each reading is noisy by the server's own timing, so their
// average is what is undone. (GStreamer's own way nudges a period at a time
// into a window of tens of milliseconds, so that where in it an output came
// to rest, and so its delay, changed from run to run.)
class OutputAlignment
{
public:
    static constexpr std::chrono::nanoseconds FarOff = std::chrono::milliseconds(20);
    static constexpr std::chrono::nanoseconds Tolerance = std::chrono::milliseconds(2);
    static constexpr int Smoothing = 16;

    // How far to move the output for the drift just read (the pipeline's
    // clock less the output's): nothing, or the drift undone.
    std::chrono::nanoseconds correction(std::chrono::nanoseconds drift);
    // After a break in the output (new caps, a flush), readings start afresh.
    void restart() { m_measured = false; }

private:
    std::chrono::nanoseconds m_average{0};
    bool m_measured = false;
};
