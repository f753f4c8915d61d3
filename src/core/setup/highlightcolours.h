#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// The colours in which the task window lights the user's own flows while they act, as RGB
// values 0xRRGGBB: red for the inflow and green for the outflow unless the setup's
// HighlightColours names others. The environment's flows keep red and green.
struct HighlightColours {
    static constexpr uint32_t red = 0xFF0000;
    static constexpr uint32_t green = 0x00C000;
    uint32_t inflow = red;
    uint32_t outflow = green;
};

// Reads "blue,orange": two colours, the inflow's then the outflow's, each a name of the
// colour-blind-safe palette (orange, skyblue, bluishgreen, yellow, blue, vermillion,
// reddishpurple, black), red, green or #rrggbb, in any case. Empty with `problem` set when
// the text is not two such colours.
std::optional<HighlightColours> ParseHighlightColours(const QString &text, QString *problem);

// "#RRGGBB".
QString ColourCode(uint32_t rgb);
