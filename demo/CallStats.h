#pragma once

#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

// The measuring side of the demo call, kept apart from windows and the bus so that it can be
// checked on its own. Times are nanoseconds of one monotonic clock.

// Latency samples of one run: mean and percentiles over everything recorded.
class LatencyStats
{
public:
    void add(std::int64_t ns) { m_samples.push_back(ns); }
    std::size_t count() const { return m_samples.size(); }
    std::optional<double> meanMs() const;
    // Nearest-rank percentile (p in 0..100): the smallest sample that at least p percent of the
    // samples do not exceed. With fewer than 100 samples the 99th is the largest.
    std::optional<double> percentileMs(double p) const;

private:
    std::vector<std::int64_t> m_samples;
};

// Frames per second between the first and the last frame counted: n frames span n - 1 gaps.
class FrameRate
{
public:
    void add(std::int64_t ns);
    int count() const { return m_count; }
    std::optional<double> perSecond() const;

private:
    int m_count = 0;
    std::int64_t m_first = 0;
    std::int64_t m_last = 0;
};

// A white-board frame as the component hands it over: bottom-up rows of wd x ht pixels at
// bitsPerPixel (24 blue-green-red, 32 blue-green-red-unused, 16 five bits each with blue lowest),
// each row padded to a multiple of 4 bytes. A null image when the bytes cannot hold that frame or
// the depth is not one of these.
QImage imageFromBottomUpRows(const QByteArray &bytes, std::int32_t wd, std::int32_t ht,
                             std::int32_t bitsPerPixel);

// Watches one panel's participant area for the pictures handed to it. The host registers each
// picture when it forwards it and shows the area as grabbed from the screen; a picture counts as
// displayed when the area changes and then matches it. Pictures that the area skipped (replaced
// before a grab saw them) are counted, not timed.
class DisplayWatch
{
public:
    struct Seen
    {
        std::int64_t latencyNs; // from the picture's registration time to the grab that saw it
        int skipped; // older pictures that were never seen
    };

    // At most this many pictures wait; beyond it the oldest counts as skipped.
    static constexpr std::size_t kMaxWaiting = 16;

    void expect(std::int64_t sentNs, const QImage &picture);
    std::optional<Seen> observe(const QImage &area, std::int64_t nowNs);
    bool waiting() const { return !m_waiting.empty(); }
    int overflowed() const { return m_overflowed; }

    // Mean absolute difference per colour channel over the area both images cover.
    static double difference(const QImage &a, const QImage &b);

private:
    struct Expected
    {
        std::int64_t sentNs;
        QImage picture;
    };
    std::deque<Expected> m_waiting;
    QImage m_lastArea;
    int m_overflowed = 0;
};
