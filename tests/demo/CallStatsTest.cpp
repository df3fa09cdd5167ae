#include "CallStats.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

namespace {

constexpr std::int64_t kMs = 1'000'000;

// A grey picture with a white bar at x, and noise of two levels as between two decoders.
QImage barPicture(int x, unsigned noiseSeed)
{
    QImage picture(150, 144, QImage::Format_RGB32);
    picture.fill(QColor(90, 90, 90));
    QPainter(&picture).fillRect(x, 0, 12, 144, Qt::white);
    std::mt19937 noise(noiseSeed);
    for (int y = 0; y < picture.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int col = 0; col < picture.width(); ++col) {
            const int d = int(noise() % 3);
            row[col] = qRgb(std::min(qRed(row[col]) + d, 255), qGreen(row[col]),
                            std::max(qBlue(row[col]) - d, 0));
        }
    }
    return picture;
}

} // namespace

TEST(CallStats, LatencyMeanAndNearestRankPercentiles)
{
    std::vector<std::int64_t> hundred(100);
    std::iota(hundred.begin(), hundred.end(), 1);
    std::shuffle(hundred.begin(), hundred.end(), std::mt19937(7));
    // Samples; mean, 50th and 99th percentile; with fewer than 100 samples p99 is the largest.
    const std::pair<std::vector<std::int64_t>, std::vector<double>> cases[] = {
        {{}, {}},
        {{5}, {5.0, 5.0, 5.0}},
        {hundred, {50.5, 50.0, 99.0}},
        {{30, 10, 20, 40}, {25.0, 20.0, 40.0}},
    };
    for (const auto &[samplesMs, expected] : cases) {
        SCOPED_TRACE(samplesMs.size());
        LatencyStats stats;
        for (const std::int64_t ms : samplesMs)
            stats.add(ms * kMs);
        EXPECT_EQ(stats.count(), samplesMs.size());
        std::vector<double> got;
        for (const auto value : {stats.meanMs(), stats.percentileMs(50), stats.percentileMs(99)})
            if (value)
                got.push_back(*value);
        EXPECT_EQ(got, expected);
    }
}

TEST(CallStats, FramesPerSecondCountGapsBetweenFirstAndLast)
{
    FrameRate rate, sameInstant;
    rate.add(400 * kMs);
    EXPECT_FALSE(rate.perSecond()); // one frame has no rate
    for (int i = 1; i < 7; ++i) // seven frames 200 ms apart: six gaps in 1.2 s
        rate.add((400 + 200 * i) * kMs);
    EXPECT_DOUBLE_EQ(*rate.perSecond(), 5.0);
    sameInstant.add(kMs);
    sameInstant.add(kMs);
    EXPECT_FALSE(sameInstant.perSecond());
}

TEST(CallStats, BottomUpRowsBecomeAnUprightPicture)
{
    // Two padded rows of three pixels; in memory the bottom row comes first.
    const QRgb rows[2][3] = {{qRgb(0, 0, 255), qRgb(0, 255, 0), qRgb(255, 0, 0)},
                             {qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(128, 128, 128)}};
    const auto bytes = [&](int bits) {
        QByteArray all;
        for (const auto &row : rows) {
            QByteArray line;
            for (const QRgb c : row) { // little-endian: blue first, or 5-5-5 in two bytes
                const QRgb v = bits == 16
                    ? (qRed(c) >> 3) << 10 | (qGreen(c) >> 3) << 5 | qBlue(c) >> 3
                    : c & 0xffffff;
                for (int i = 0; i < bits / 8; ++i)
                    line.append(char(v >> 8 * i));
            }
            while (line.size() % 4 != 0)
                line.append('\x5a'); // padding is never read as a pixel
            all += line;
        }
        return all;
    };
    for (const int bits : {24, 32, 16}) {
        const QImage picture = imageFromBottomUpRows(bytes(bits), 3, 2, bits);
        ASSERT_EQ(picture.size(), QSize(3, 2));
        // Five bits a channel: the low three bits of each level are gone.
        const QRgb mask = bits == 16 ? 0xf8f8f8 : 0xffffff;
        for (int x = 0; x < 3; ++x)
            for (int y = 0; y < 2; ++y)
                EXPECT_EQ(picture.pixel(x, y) & mask, rows[1 - y][x] & mask)
                    << bits << ":" << x << y;
    }
    // What cannot be the announced frame draws nothing.
    const QByteArray full = bytes(24);
    for (const auto &[data, width, height, bits] :
         {std::tuple {full.left(full.size() - 1), 3, 2, 24},
          {full, 0, 2, 24},
          {full, 3, -2, 24},
          {full, 3, 2, 8}})
        EXPECT_TRUE(imageFromBottomUpRows(data, width, height, bits).isNull()) << width << height;
}

TEST(CallStats, DisplayWatchTimesEachPictureFromItsHandOverToTheScreenChangeItMatchesBest)
{
    DisplayWatch watch;
    // What a look at the screen at ms times: the latency in ms and the pictures skipped, or none.
    const std::pair<std::int64_t, std::int64_t> none(-1, 0);
    const auto look = [&](const QImage &screen, std::int64_t ms) {
        const auto seen = watch.observe(screen, ms * kMs);
        return seen ? std::pair(seen->latencyNs / kMs, std::int64_t(seen->skipped)) : none;
    };
    const QImage pictures[]
        = {barPicture(10, 1), barPicture(20, 2), barPicture(30, 3), barPicture(40, 4)};
    watch.expect(0, pictures[0]);
    watch.expect(10 * kMs, pictures[1]);
    EXPECT_EQ(look(barPicture(0, 9), 5), none); // still the previous picture
    EXPECT_EQ(look(barPicture(10, 11), 30), std::pair(30L, 0L)); // decoded elsewhere: other noise
    // The same screen again is not a second showing, even though it matches nothing waiting.
    EXPECT_EQ(look(barPicture(10, 11), 35), none);
    EXPECT_EQ(look(pictures[1], 60), std::pair(50L, 0L));
    EXPECT_FALSE(watch.waiting());

    // The third, replaced unseen, is skipped; something else on the screen matches no picture.
    watch.expect(100 * kMs, pictures[2]);
    watch.expect(200 * kMs, pictures[3]);
    QImage other(150, 144, QImage::Format_RGB32);
    other.fill(Qt::black);
    EXPECT_EQ(look(other, 210), none);
    EXPECT_EQ(look(pictures[3], 240), std::pair(40L, 1L));

    // A still scene (pictures alike but for noise): the screen shows the one it is closest to.
    const QImage still[] = {barPicture(40, 5), barPicture(40, 6)};
    watch.expect(300 * kMs, still[0]);
    EXPECT_EQ(look(pictures[3], 310), none);
    watch.expect(350 * kMs, still[1]);
    EXPECT_EQ(look(still[1], 370), std::pair(20L, 1L));
    EXPECT_FALSE(watch.waiting());
}
