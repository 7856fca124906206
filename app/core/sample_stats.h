// Count, minimum, maximum, mean and standard deviation of a stream of
// readings, in constant memory however long the stream runs (Welford's
// running update, which stays exact where summing squares would cancel).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

class CSampleStats {
public:
    void Add(double x) {
        ++m_count;
        const double delta = x - m_mean;
        m_mean += delta / static_cast<double>(m_count);
        m_m2 += delta * (x - m_mean);
        m_min = std::min(m_min, x);
        m_max = std::max(m_max, x);
    }
    uint64_t Count() const { return m_count; }
    double Min() const { return m_count ? m_min : 0; }
    double Max() const { return m_count ? m_max : 0; }
    double Mean() const { return m_mean; }
    // The population's: the readings are all there is.
    double StdDev() const {
        return m_count ? std::sqrt(m_m2 / static_cast<double>(m_count)) : 0;
    }

private:
    uint64_t m_count = 0;
    double m_mean = 0;
    double m_m2 = 0;
    double m_min = std::numeric_limits<double>::infinity();
    double m_max = -std::numeric_limits<double>::infinity();
};
