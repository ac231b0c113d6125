#pragma once

#include <cstdint>
#include <random>

namespace velmora::bench {

// Seeded numbers that come out the same with every standard library: the
// engine is fully specified by the standard, the distributions are our own
// (the standard's are not).
class Random
{
public:
    explicit Random(std::uint64_t seed) : m_engine(seed) {}

    std::uint64_t bits() { return m_engine(); }

    // Uniform in [0, n), n > 0; rejection keeps it free of modulo bias.
    std::uint64_t below(std::uint64_t n)
    {
        const std::uint64_t limit = UINT64_MAX - UINT64_MAX % n;
        std::uint64_t x;
        do {
            x = bits();
        } while (x >= limit);
        return x % n;
    }

    // Uniform in [low, high].
    std::int64_t between(std::int64_t low, std::int64_t high)
    {
        return low + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(high - low) + 1));
    }

    // Uniform in [0, 1) with 53 random bits.
    double unit() { return static_cast<double>(bits() >> 11) * 0x1.0p-53; }

    bool chance(double p) { return unit() < p; }

    template <class T, std::size_t N> const T& pick(const T (&items)[N]) { return items[below(N)]; }

private:
    std::mt19937_64 m_engine;
};

} // namespace velmora::bench
