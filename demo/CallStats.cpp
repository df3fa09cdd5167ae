#include "CallStats.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace {

// A picture decoded by the component and by the host from the same JPEG stream comes out alike
// to the bit on a 24-bit screen; the margin covers screens of fewer bits per channel. Two
// consecutive camera frames differ by far more wherever something moves.
constexpr double kSamePicture = 6.0;

} // namespace

std::optional<double> LatencyStats::meanMs() const
{
    if (m_samples.empty())
        return std::nullopt;
    const double sum = std::accumulate(m_samples.begin(), m_samples.end(), 0.0);
    return sum / double(m_samples.size()) / 1e6;
}

std::optional<double> LatencyStats::percentileMs(double p) const
{
    if (m_samples.empty())
        return std::nullopt;
    std::vector<std::int64_t> sorted = m_samples;
    std::sort(sorted.begin(), sorted.end());
    const auto rank
        = std::size_t(std::ceil(std::clamp(p, 0.0, 100.0) / 100.0 * double(sorted.size())));
    return double(sorted[std::max<std::size_t>(rank, 1) - 1]) / 1e6;
}

void FrameRate::add(std::int64_t ns)
{
    if (m_count == 0)
        m_first = ns;
    m_last = ns;
    ++m_count;
}

std::optional<double> FrameRate::perSecond() const
{
    if (m_count < 2 || m_last <= m_first)
        return std::nullopt;
    return double(m_count - 1) * 1e9 / double(m_last - m_first);
}

QImage imageFromBottomUpRows(const QByteArray &bytes, std::int32_t wd, std::int32_t ht,
                             std::int32_t bitsPerPixel)
{
    QImage::Format format = QImage::Format_Invalid;
    switch (bitsPerPixel) {
    case 16:
        format = QImage::Format_RGB555;
        break;
    case 24:
        format = QImage::Format_BGR888;
        break;
    case 32:
        format = QImage::Format_RGB32;
        break;
    default:
        return {};
    }
    // A frame larger than a screen is not a camera frame; the bound also keeps the row arithmetic
    // far from overflow.
    if (wd <= 0 || ht <= 0 || wd > 8192 || ht > 8192)
        return {};
    const qsizetype stride = (qsizetype(wd) * bitsPerPixel + 31) / 32 * 4;
    if (bytes.size() < stride * ht)
        return {};
    const QImage rows(reinterpret_cast<const uchar *>(bytes.constData()), wd, ht, stride, format);
    // The last row in memory is the picture's top row; mirrored() also detaches from bytes.
    return rows.mirrored(false, true).convertToFormat(QImage::Format_RGB32);
}

double DisplayWatch::difference(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    const int w = std::min(x.width(), y.width());
    const int h = std::min(x.height(), y.height());
    if (w <= 0 || h <= 0)
        return 255.0;
    std::int64_t sum = 0;
    for (int row = 0; row < h; ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < w; ++col) {
            sum += std::abs(qRed(p[col]) - qRed(q[col])) + std::abs(qGreen(p[col]) - qGreen(q[col]))
                + std::abs(qBlue(p[col]) - qBlue(q[col]));
        }
    }
    return double(sum) / (3.0 * double(w) * double(h));
}

void DisplayWatch::expect(std::int64_t sentNs, const QImage &picture)
{
    if (m_waiting.size() == kMaxWaiting) {
        m_waiting.pop_front();
        ++m_overflowed;
    }
    m_waiting.push_back({sentNs, picture});
}

std::optional<DisplayWatch::Seen> DisplayWatch::observe(const QImage &area, std::int64_t nowNs)
{
    // Only a change on the screen can be a new picture; the same area again is the picture that
    // was already counted.
    if (!m_lastArea.isNull() && difference(area, m_lastArea) == 0.0)
        return std::nullopt;
    m_lastArea = area;
    std::optional<std::size_t> best;
    double bestDifference = kSamePicture;
    for (std::size_t i = 0; i < m_waiting.size(); ++i) {
        const double d = difference(area, m_waiting[i].picture);
        if (d <= bestDifference) {
            bestDifference = d;
            best = i;
        }
    }
    // Something else changed the area (a tab, a label): no picture of ours.
    if (!best)
        return std::nullopt;
    const Seen seen {nowNs - m_waiting[*best].sentNs, int(*best)};
    m_waiting.erase(m_waiting.begin(), m_waiting.begin() + std::ptrdiff_t(*best) + 1);
    return seen;
}
