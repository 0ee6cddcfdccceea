#include "output_alignment.h"

#include <utility>

std::chrono::nanoseconds OutputAlignment::correction(std::chrono::nanoseconds drift)
{
    if (std::chrono::abs(drift) > FarOff) {
        m_measured = false;
        return -drift;
    }
    m_average = m_measured ? m_average + (drift - m_average) / Smoothing : drift;
    m_measured = true;
    if (std::chrono::abs(m_average) <= Tolerance)
        return std::chrono::nanoseconds(0);
    return -std::exchange(m_average, std::chrono::nanoseconds(0));
}
