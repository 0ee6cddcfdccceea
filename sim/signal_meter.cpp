#include "signal_meter.h"

#include <algorithm>

SignalMeter::SignalMeter(quint32 seed)
    : m_random(seed)
{ }

int SignalMeter::next()
{
    m_noiseFloor = std::clamp(m_noiseFloor + m_random.bounded(-1, 2), 1, 6);
    if (m_random.bounded(15) == 0)
        m_station = m_random.bounded(8, MaxReading + 1);
    else
        m_station = std::max(0, m_station - m_random.bounded(0, 3));
    return std::max(m_noiseFloor, m_station);
}
