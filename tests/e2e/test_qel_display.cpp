// How the qel-panel program looks to a person, measured on screenshots of its
// real window against the qel-manager program: the text on the panel's fixed
// grey stays dark (and so readable) under a dark theme and keeps its colour
// under the default one, the choices that draw their own background stay
// readable, and on a screen with a scale of 2 the window is twice as large
// and its pictures are drawn from pictures made for that scale, not enlarged.
//
// Every value the tests measure is printed ("measured: ..."), so that a run
// of this program also reports them.
#include "e2e_support.h"
#include "manager_process.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using qele2e::PanelProcess;
using qele2e::Window;

// Bounds of the waits; every one ends as soon as its condition holds.
constexpr int k_windowMs = 15000 * qele2e::k_slowdown; // start-up of the toolkit
constexpr int k_drawnMs = 10000 * qele2e::k_slowdown;  // the window painted and still
constexpr int k_exitMs = 5000 * qele2e::k_slowdown;
constexpr int k_captureMs = 10000 * qele2e::k_slowdown; // one screenshot

const char k_mainTitle[] = "^Qelvane$";

// The lowest contrast between a text and its background that the panel
// allows itself: the usual bound for text of normal size.
constexpr double k_minContrast = 4.5;

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
    bool operator==(const Rgb& other) const { return r == other.r && g == other.g && b == other.b; }
    bool operator<(const Rgb& other) const {
        return r != other.r ? r < other.r : g != other.g ? g < other.g : b < other.b;
    }
};

std::string text(const Rgb& c) {
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

// The panel's fixed grey, and the colour of the default theme's text on it.
const Rgb k_grey{224, 224, 224};
const Rgb k_defaultText{46, 52, 54};

// Whether each channel of `a` is within `tolerance` of that of `b`.
bool near(const Rgb& a, const Rgb& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

// Relative luminance of an sRGB colour: the channels made linear, then
// weighted by how bright the eye finds each.
double luminance(const Rgb& c) {
    const auto linear = [](int channel) {
        const double v = channel / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b);
}

// The contrast ratio of two colours, from 1 (the same) to 21 (black on white).
double contrast(const Rgb& a, const Rgb& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A rectangle of the window in its logical pixels (those of a scale of 1).
struct Rect {
    int x0;
    int y0;
    int x1; // exclusive
    int y1; // exclusive
};

// A screenshot: its pixels row by row, three bytes each.
struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    bool ok() const { return width > 0 && height > 0; }
    bool operator==(const Screenshot& other) const {
        return width == other.width && height == other.height && rgb == other.rgb;
    }
    Rgb at(int x, int y) const {
        const size_t i = 3 * (static_cast<size_t>(y) * static_cast<size_t>(width) + x);
        return Rgb{rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

// Reads a binary portable pixmap (P6, 8 bits a channel); not ok when the text
// is anything else.
Screenshot parsePixmap(const std::string& data) {
    std::istringstream in(data);
    std::string magic;
    int width = 0;
    int height = 0;
    int maximum = 0;
    in >> magic >> width >> height >> maximum;
    Screenshot shot;
    if (!in || magic != "P6" || maximum != 255 || width <= 0 || height <= 0) {
        return shot;
    }
    in.get(); // the one white-space character before the pixels
    const size_t start = static_cast<size_t>(in.tellg());
    const size_t size = 3 * static_cast<size_t>(width) * static_cast<size_t>(height);
    if (data.size() < start + size) {
        return shot;
    }
    shot.width = width;
    shot.height = height;
    shot.rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(start),
                    data.begin() + static_cast<std::ptrdiff_t>(start + size));
    return shot;
}

Screenshot capture(Window window) {
    const qele2e::CommandRun run = qele2e::runCommand(
        {"import", "-window", std::to_string(window), "-depth", "8", "ppm:-"}, k_captureMs);
    return run.exitCode == 0 ? parsePixmap(run.out) : Screenshot();
}

// Whether the panel has painted its page: a window the toolkit has mapped
// but not drawn yet is black, and stays so for a while on a slow machine.
bool painted(const Screenshot& shot) {
    if (!shot.ok()) {
        return false;
    }
    size_t grey = 0;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            grey += shot.at(x, y) == k_grey ? 1 : 0;
        }
    }
    return grey * 4 > static_cast<size_t>(shot.width) * static_cast<size_t>(shot.height);
}

// A screenshot once the window has painted and nothing changes any more: two
// painted captures in a row are the same. Not ok when that did not happen in
// time.
Screenshot stillShot(Window window) {
    Screenshot last;
    Screenshot shot;
    const bool still = qele2e::waitUntil(
        [&] {
            shot = capture(window);
            const bool same = painted(shot) && shot == last;
            last = shot;
            return same;
        },
        k_drawnMs);
    return still ? shot : Screenshot();
}

// The contrast inside one rectangle: of the colour that covers most of it
// (the background) against the pixel that differs most from it (the text),
// which on a text of one colour is its darkest against its lightest pixel.
struct AreaContrast {
    double ratio = 1;
    Rgb background;
    Rgb text;
};

AreaContrast measureArea(const Screenshot& shot, const Rect& area) {
    std::map<Rgb, int> counts;
    for (int y = area.y0; y < area.y1; ++y) {
        for (int x = area.x0; x < area.x1; ++x) {
            ++counts[shot.at(x, y)];
        }
    }
    AreaContrast result;
    if (counts.empty()) {
        return result;
    }
    result.background =
        std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
            return a.second < b.second;
        })->first;
    result.text = result.background;
    for (const auto& entry : counts) {
        const double ratio = contrast(entry.first, result.background);
        if (ratio > result.ratio) {
            result.ratio = ratio;
            result.text = entry.first;
        }
    }
    return result;
}

// The mean width, in the screenshot's own pixels, of the outer edge of the
// round picture inside `area` (logical pixels) on the panel's grey. On every
// row less than 0.6 radius from the disc's centre (where the edge crosses the
// row steeply), from each side inwards up to the disc's own colour (the
// darkest on that half of the row: the pictures are darker than the grey),
// it counts the pixels that are neither the grey nor the disc's colour, each
// by more than a tenth of the step between them. A picture made for the
// screen's scale has an edge of about one pixel; one enlarged from a smaller
// picture smears it over about twice as many.
double discEdgeWidth(const Screenshot& shot, const Rect& area, int scale) {
    const int x0 = area.x0 * scale;
    const int x1 = area.x1 * scale;
    const double grey = luminance(k_grey);
    int left = x1;
    int right = x0;
    double sumY = 0;
    int count = 0;
    for (int y = area.y0 * scale; y < area.y1 * scale; ++y) {
        for (int x = x0; x < x1; ++x) {
            if (std::abs(luminance(shot.at(x, y)) - grey) > 0.1) {
                left = std::min(left, x);
                right = std::max(right, x);
                sumY += y;
                ++count;
            }
        }
    }
    if (count == 0) {
        return -1;
    }
    const double centreX = (left + right) / 2.0;
    const double centreY = sumY / count;
    const double radius = (right - left) / 2.0;
    int edges = 0;
    int widths = 0;
    for (int y = static_cast<int>(centreY - 0.6 * radius);
         y <= static_cast<int>(centreY + 0.6 * radius); ++y) {
        for (const int step : {1, -1}) {
            std::vector<double> row;
            for (int x = step > 0 ? x0 : x1 - 1; step > 0 ? x < centreX : x > centreX; x += step) {
                row.push_back(luminance(shot.at(x, y)));
            }
            const double disc = *std::min_element(row.begin(), row.end());
            const double span = grey - disc;
            if (span < 0.1) {
                continue;
            }
            for (const double l : row) {
                if (l <= disc + 0.1 * span) {
                    break;
                }
                if (l < grey - 0.1 * span) {
                    ++widths;
                }
            }
            ++edges;
        }
    }
    return edges == 0 ? -1 : static_cast<double>(widths) / edges;
}

// Texts that sit on the panel's grey, in logical pixels: each rectangle holds
// one text (or a label with its value) and the grey around it, nothing else.
// The window has a fixed size (595 wide) and lays them out the same way on
// every run.
struct Label {
    const char* name;
    Rect area;
};

const Label k_settingsLabels[] = {
    {"tab Settings", {24, 14, 82, 34}},        {"tab About", {108, 14, 153, 32}},
    {"Qelvane", {250, 104, 366, 134}},         {"Audio Interface", {200, 163, 307, 182}},
    {"Audio Format", {200, 202, 307, 221}},    {"Lirva Latency", {200, 242, 307, 262}},
    {"IP: and address", {266, 324, 404, 336}}, {"MAC: and address", {266, 337, 404, 349}},
};

const Label k_aboutLabels[] = {
    {"tab Settings (not chosen)", {24, 14, 82, 34}},
    {"tab About (chosen)", {108, 14, 153, 32}},
    {"Qelvane (About)", {250, 104, 366, 134}},
    {"Version: and version", {200, 134, 395, 152}},
};

// Where the About tab is clicked.
constexpr int k_aboutTabX = 130;
constexpr int k_aboutTabY = 23;

// The inside of the choices, inside their border: their own background and
// the chosen item's text.
const Label k_choices[] = {
    {"audio interface choice", {313, 160, 385, 188}}, {"sample rate choice", {313, 199, 385, 227}},
    {"sample format choice", {420, 199, 470, 227}},   {"latency choice", {313, 238, 385, 266}},
    {"network choice", {269, 292, 380, 320}},
};

// The power button and the help button, round pictures.
const Rect k_powerButton{112, 150, 196, 230};
const Rect k_helpButton{548, 50, 584, 86};

// The variables the toolkit reads for the theme and the scale: each set to
// the given value (or removed, for none) for the object's lifetime.
class DisplayEnvironment {
public:
    DisplayEnvironment(std::optional<std::string> theme, std::optional<std::string> scale) {
        change("GTK_THEME", theme);
        change("GDK_SCALE", scale);
        change("GDK_DPI_SCALE", std::nullopt);
    }
    ~DisplayEnvironment() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second) {
                setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                unsetenv(it->first.c_str());
            }
        }
    }
    DisplayEnvironment(const DisplayEnvironment&) = delete;
    DisplayEnvironment& operator=(const DisplayEnvironment&) = delete;

private:
    void change(const std::string& name, const std::optional<std::string>& value) {
        const char* before = std::getenv(name.c_str());
        m_saved.emplace_back(name,
                             before != nullptr ? std::optional<std::string>(before) : std::nullopt);
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// What one run of the panel showed.
struct PanelLook {
    Screenshot settings; // the Settings page, as the window opens
    Screenshot about;    // the About page, when asked for
    int windowWidth = 0;
    int windowHeight = 0;
};

class PanelDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, std::getenv("DISPLAY")) << "these tests need an X display (xvfb-run)";
        ASSERT_TRUE(m_display.isOpen()) << "the X display does not answer";
        ASSERT_FALSE(m_dir.path().empty());
        m_manager =
            std::make_unique<qeltest::ManagerProcess>(m_dir, std::vector<std::string>{}, 8899);
        ASSERT_TRUE(m_manager->waitReady()) << m_manager->log();
    }

    void TearDown() override {
        for (const std::string& path : m_logs) {
            const std::string log = qeltest::readFile(path);
            EXPECT_EQ(std::string::npos, log.find("Sanitizer")) << path << ":\n" << log;
            EXPECT_EQ(std::string::npos, log.find("runtime error:")) << path << ":\n" << log;
        }
    }

    // Runs the panel with the given theme and scale (none: the toolkit's
    // default) until its window is painted, takes the screenshots and ends
    // it as the user would. Only one panel runs at a time: the program keeps
    // to one instance.
    PanelLook look(const std::string& name, std::optional<std::string> theme,
                   std::optional<std::string> scale, bool about) {
        PanelLook result;
        // The pointer away from the window (centred on the screen), so that
        // nothing in it shows as hovered.
        EXPECT_EQ(0, qele2e::runCommand({"xdotool", "mousemove", "0", "0"}).exitCode);
        std::unique_ptr<PanelProcess> panel;
        {
            DisplayEnvironment environment(theme, scale);
            m_logs.push_back(m_dir.file(name + ".log"));
            panel =
                std::make_unique<PanelProcess>(qele2e::panelProgram(), m_dir.path(), m_logs.back());
        }
        const Window window = qele2e::waitForWindow(panel->pid(), k_mainTitle, k_windowMs);
        EXPECT_NE(0u, window) << panel->log();
        if (window == 0) {
            return result;
        }
        result.settings = stillShot(window);
        EXPECT_TRUE(result.settings.ok()) << "no still screenshot of " << name;
        const int factor = scale ? std::stoi(*scale) : 1;
        if (about && result.settings.ok()) {
            const qele2e::CommandRun click =
                qele2e::runCommand({"xdotool", "mousemove", "--window", std::to_string(window),
                                    std::to_string(k_aboutTabX * factor),
                                    std::to_string(k_aboutTabY * factor), "click", "1"});
            EXPECT_EQ(0, click.exitCode);
            // The page changes, then settles.
            EXPECT_TRUE(qele2e::waitUntil(
                [&] {
                    const Screenshot shot = capture(window);
                    return shot.ok() && !(shot == result.settings);
                },
                k_drawnMs))
                << "the About page did not show";
            result.about = stillShot(window);
        }
        const qele2e::CommandRun geometry =
            qele2e::runCommand({"xdotool", "getwindowgeometry", std::to_string(window)});
        const size_t at = geometry.out.find("Geometry: ");
        if (at != std::string::npos) {
            std::sscanf(geometry.out.c_str() + at, "Geometry: %dx%d", &result.windowWidth,
                        &result.windowHeight);
        }
        EXPECT_EQ(0, panel->stop(SIGTERM, k_exitMs)) << panel->log();
        return result;
    }

    // Every label's contrast, reported and held to the bound; the text
    // colour and the background are returned for the caller's checks.
    static std::vector<AreaContrast> checkLabels(const std::string& run, const Screenshot& shot,
                                                 const Label* labels, size_t count) {
        std::vector<AreaContrast> results;
        if (!shot.ok()) {
            ADD_FAILURE() << run << ": no screenshot";
            return results;
        }
        for (size_t i = 0; i < count; ++i) {
            const AreaContrast area = measureArea(shot, labels[i].area);
            std::printf("measured: %s, %s: contrast %.2f (text %s on %s)\n", run.c_str(),
                        labels[i].name, area.ratio, text(area.text).c_str(),
                        text(area.background).c_str());
            EXPECT_GE(area.ratio, k_minContrast) << run << ": " << labels[i].name;
            results.push_back(area);
        }
        return results;
    }

    qele2e::DisplayConnection m_display;
    qeltest::ScratchDir m_dir;
    std::unique_ptr<qeltest::ManagerProcess> m_manager;
    std::vector<std::string> m_logs;
};

// On a dark theme the texts on the grey are dark, in the default theme's own
// text colour, and the grey stays.
TEST_F(PanelDisplay, TextOnTheGreyStaysDarkUnderADarkTheme) {
    const PanelLook dark = look("dark", "Adwaita:dark", std::nullopt, true);
    for (const auto& [shot, labels, count] :
         {std::tuple{&dark.settings, k_settingsLabels, std::size(k_settingsLabels)},
          std::tuple{&dark.about, k_aboutLabels, std::size(k_aboutLabels)}}) {
        for (const AreaContrast& area : checkLabels("dark theme", *shot, labels, count)) {
            EXPECT_EQ(text(k_grey), text(area.background));
            EXPECT_TRUE(near(area.text, k_defaultText, 8)) << text(area.text);
        }
    }
}

// The default theme looks as it always did: dark text of the theme's own
// colour on the grey.
TEST_F(PanelDisplay, TextOnTheGreyKeepsItsColourUnderTheDefaultTheme) {
    const PanelLook light = look("light", std::nullopt, std::nullopt, true);
    for (const auto& [shot, labels, count] :
         {std::tuple{&light.settings, k_settingsLabels, std::size(k_settingsLabels)},
          std::tuple{&light.about, k_aboutLabels, std::size(k_aboutLabels)}}) {
        for (const AreaContrast& area : checkLabels("default theme", *shot, labels, count)) {
            EXPECT_EQ(text(k_grey), text(area.background));
            EXPECT_TRUE(near(area.text, k_defaultText, 8)) << text(area.text);
        }
    }
}

// The choices draw their own background in the theme's colours, and their
// text in the matching colour, on either theme.
TEST_F(PanelDisplay, ChoicesStayReadableUnderEitherTheme) {
    for (const auto& [run, theme] :
         {std::pair<std::string, std::optional<std::string>>{"default theme", std::nullopt},
          std::pair<std::string, std::optional<std::string>>{"dark theme", "Adwaita:dark"}}) {
        const PanelLook shown = look(run == "dark theme" ? "choices-dark" : "choices-light", theme,
                                     std::nullopt, false);
        checkLabels(run, shown.settings, k_choices, std::size(k_choices));
    }
}

// At a scale of 2 the window takes twice the room, and the round pictures
// have edges as sharp as at a scale of 1 (in the screen's pixels), not the
// smeared edges of an enlarged picture.
TEST_F(PanelDisplay, AtAScaleOfTwoTheWindowIsTwiceAsLargeAndItsPicturesSharp) {
    const PanelLook one = look("scale-1", std::nullopt, std::string("1"), false);
    const PanelLook two = look("scale-2", std::nullopt, std::string("2"), false);
    ASSERT_TRUE(one.settings.ok());
    ASSERT_TRUE(two.settings.ok());
    std::printf("measured: window %dx%d at scale 1, %dx%d at scale 2 (screenshots %dx%d, %dx%d)\n",
                one.windowWidth, one.windowHeight, two.windowWidth, two.windowHeight,
                one.settings.width, one.settings.height, two.settings.width, two.settings.height);
    EXPECT_EQ(595, one.settings.width);
    EXPECT_EQ(2 * one.settings.width, two.settings.width);
    EXPECT_EQ(2 * one.settings.height, two.settings.height);
    EXPECT_EQ(2 * one.windowWidth, two.windowWidth);
    EXPECT_EQ(2 * one.windowHeight, two.windowHeight);

    for (const auto& [name, area] :
         {std::pair{"power button", k_powerButton}, std::pair{"help button", k_helpButton}}) {
        const double at1 = discEdgeWidth(one.settings, area, 1);
        const double at2 = discEdgeWidth(two.settings, area, 2);
        std::printf("measured: %s edge width %.2f px at scale 1, %.2f px at scale 2\n", name, at1,
                    at2);
        ASSERT_GT(at1, 0) << name << ": no round picture found at scale 1";
        ASSERT_GT(at2, 0) << name << ": no round picture found at scale 2";
        // An enlarged picture about doubles the width of its edge (the power
        // button's: 1.75 px at a scale of 2 against 0.86 at 1); a picture
        // made for the scale keeps it at about one pixel (0.95).
        EXPECT_LT(at2, 1.3) << name;
        EXPECT_LT(at2, 1.5 * at1) << name;
    }
}

} // namespace
