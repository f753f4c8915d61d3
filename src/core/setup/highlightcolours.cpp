#include "core/setup/highlightcolours.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <utility>

namespace {

// Red and green are the window's own; the others are readable with every colour vision.
const std::array<std::pair<const char *, uint32_t>, 10> namedColours = {{
    {"orange", 0xE69F00},
    {"skyblue", 0x56B4E9},
    {"bluishgreen", 0x009E73},
    {"yellow", 0xF0E442},
    {"blue", 0x0072B2},
    {"vermillion", 0xD55E00},
    {"reddishpurple", 0xCC79A7},
    {"black", 0x000000},
    {"red", HighlightColours::red},
    {"green", HighlightColours::green},
}};

std::optional<uint32_t> readColour(const QString &text) {
    const QString name = text.trimmed().toLower();
    for (const auto &[known, rgb] : namedColours) {
        if (name == QLatin1String(known))
            return rgb;
    }
    const QString digits = name.mid(1);
    const bool isCode = name.size() == 7 && name.startsWith(QLatin1Char('#')) &&
                        std::all_of(digits.begin(), digits.end(), [](QChar c) {
                            return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                                   (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
                        });
    if (!isCode)
        return std::nullopt;
    return digits.toUInt(nullptr, 16);
}

QString knownNames() {
    QStringList names;
    for (const auto &named : namedColours)
        names.append(QLatin1String(named.first));
    return names.join(QStringLiteral(", "));
}

} // namespace

std::optional<HighlightColours> ParseHighlightColours(const QString &text, QString *problem) {
    const QStringList items = text.split(QLatin1Char(','));
    if (items.size() != 2) {
        *problem = QStringLiteral("gives %1 colours; it must give two, the user's inflow's and "
                                  "outflow's, as \"blue,orange\".")
                       .arg(items.size());
        return std::nullopt;
    }
    HighlightColours colours;
    uint32_t *targets[] = {&colours.inflow, &colours.outflow};
    for (int i = 0; i < 2; ++i) {
        const auto rgb = readColour(items[i]);
        if (!rgb) {
            *problem = QStringLiteral("names the colour \"%1\", which is none of %2 or #rrggbb.")
                           .arg(items[i].trimmed(), knownNames());
            return std::nullopt;
        }
        *targets[i] = *rgb;
    }
    return colours;
}

QString ColourCode(uint32_t rgb) {
    return QStringLiteral("#%1").arg(rgb, 6, 16, QLatin1Char('0')).toUpper();
}
