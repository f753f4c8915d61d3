#include "core/setup/envnoise.h"

#include "core/common/numbers.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace envnoise {

std::pair<double, double> NormalPairs::next() {
    for (;;) {
        const double v1 = 2.0 * uniform() - 1.0;
        const double v2 = 2.0 * uniform() - 1.0;
        const double s = v1 * v1 + v2 * v2;
        if (s > 0.0 && s < 1.0) {
            const double f = std::sqrt(-2.0 * portableLog(s) / s);
            return {v1 * f, v2 * f};
        }
    }
}

double NormalPairs::uniform() {
    return static_cast<double>(m_engine() >> 11) * 0x1.0p-53;
}

// ln x = e ln 2 + ln m with x = m 2^e and m in [sqrt(1/2), sqrt(2)), where
// ln m = 2 atanh z = 2 (z + z^3/3 + z^5/5 + ...) with z = (m - 1) / (m + 1), |z| < 0.172:
// thirteen terms reach below the last bit. ln 2 is split in two (fdlibm's constants) so
// that e ln 2 loses nothing.
double portableLog(double x) {
    constexpr double ln2High = 6.93147180369123816490e-01;
    constexpr double ln2Low = 1.90821492927058770002e-10;
    constexpr double sqrtHalf = 0.70710678118654752440;
    int exponent = 0;
    double m = std::frexp(x, &exponent);
    if (m < sqrtHalf) {
        m *= 2.0;
        --exponent;
    }
    // 1/25, 1/23, ..., 1/1, each the double nearest, as dividing at run time gives it.
    constexpr double inverses[] = {1.0 / 25, 1.0 / 23, 1.0 / 21, 1.0 / 19, 1.0 / 17,
                                   1.0 / 15, 1.0 / 13, 1.0 / 11, 1.0 / 9,  1.0 / 7,
                                   1.0 / 5,  1.0 / 3,  1.0 / 1};
    const double z = (m - 1.0) / (m + 1.0);
    const double z2 = z * z;
    double series = 0.0;
    for (const double inverse : inverses)
        series = series * z2 + inverse;
    const double e = exponent;
    return e * ln2High + (2.0 * z * series + e * ln2Low);
}

uint64_t FreshSeed() {
    return QRandomGenerator::system()->bounded(quint64{LargestSeed}) + 1;
}

} // namespace envnoise

bool EnvironmentIsNoisy(const TaskState &state) {
    return state.EnvInflowNoise > 0 || state.EnvOutflowNoise > 0;
}

uint64_t ChooseRunSeed(const TaskState &state, std::optional<uint64_t> requested) {
    if (!EnvironmentIsNoisy(state))
        return 0;
    if (requested)
        return *requested;
    return state.EnvSeed != 0 ? state.EnvSeed : envnoise::FreshSeed();
}

namespace {

// The flow as Data.txt writes it, and within the magnitudes the program takes in.
double recordable(double flow) {
    return std::clamp(numbers::asRecorded(flow), -MaxMagnitude, MaxMagnitude);
}

void addNoise(std::vector<double> &table, size_t period, double deviation, double draw) {
    if (deviation > 0 && period < table.size())
        table[period] = recordable(table[period] + deviation * draw);
}

} // namespace

void ApplyEnvironmentNoise(TaskState &state) {
    if (state.runSeed == 0)
        return;
    envnoise::NormalPairs draws(state.runSeed);
    for (int32_t t = 1; t <= state.MaxTrial; ++t) {
        const auto [inflow, outflow] = draws.next();
        const auto period = static_cast<size_t>(t);
        addNoise(state.EnvInflow, period, state.EnvInflowNoise, inflow);
        addNoise(state.EnvOutflow, period, state.EnvOutflowNoise, outflow);
    }
}
