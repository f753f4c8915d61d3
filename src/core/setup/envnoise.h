#pragma once

#include "core/setup/taskstate.h"

#include <cstdint>
#include <optional>
#include <random>
#include <utility>

// The environment's random part: normal noise on the scheduled flows, drawn from a seed so
// that one seed gives the same flows on every machine and with every compiler.
//
// The generator is std::mt19937_64, whose sequence the C++ standard fixes. Each uniform value
// takes the top 53 bits of one output, (x >> 11) * 2^-53. Normal values come in pairs from
// Marsaglia's polar method: v1 = 2u1 - 1, v2 = 2u2 - 1, s = v1^2 + v2^2, a pair rejected
// unless 0 < s < 1, then v1 * f and v2 * f with f = sqrt(-2 ln s / s). The square root is
// IEEE 754's, exactly rounded everywhere; the logarithm is this file's own series, in +, -,
// * and / alone, since std::log may differ in its last bit between standard libraries, and
// the file is built without contracting a * b + c into one instruction.
namespace envnoise {

// Seeds are whole numbers from 1 to 2^53 - 1: each reads back exactly from a setup file's
// EnvSeed and from Runs.txt, so a run's recorded seed can be put into a setup to replay its
// environment. 0 stands for no seed.
inline constexpr uint64_t LargestSeed = (uint64_t{1} << 53) - 1;

// Independent standard normal values, two at a time.
class NormalPairs {
public:
    explicit NormalPairs(uint64_t seed)
        : m_engine(seed) {}
    std::pair<double, double> next();

private:
    double uniform();
    std::mt19937_64 m_engine;
};

// The natural logarithm of a positive, finite x, the same to the last bit on every machine
// with IEEE 754 doubles.
double portableLog(double x);

// A fresh seed from the system's source of randomness, 1 to LargestSeed.
uint64_t FreshSeed();

} // namespace envnoise

// Whether the scenario adds noise to the environment's flows (EnvInflowNoise or
// EnvOutflowNoise above 0).
bool EnvironmentIsNoisy(const TaskState &state);

// The seed a new run of the scenario plays: `requested` when a model asked for one, else
// EnvSeed when the setup gives one, else a fresh one; 0 when the environment has no noise.
uint64_t ChooseRunSeed(const TaskState &state, std::optional<uint64_t> requested = std::nullopt);

// Adds the noise of state.runSeed to the environment tables of periods 1 to MaxTrial, after
// the schedules have filled them; does nothing when runSeed is 0. Every period takes one
// pair of draws, the first for the inflow and the second for the outflow, whatever the two
// standard deviations are, so the inflow's noise of a seed does not depend on the outflow's.
// A flow a model sends later replaces the noisy one. Each noisy flow is kept to the 15
// significant digits Data.txt records, so the file holds exactly the flow that acted.
void ApplyEnvironmentNoise(TaskState &state);
