// Value types against references nobody here wrote: HSL against python3's colorsys, the colour
// names against the CSS colour table that vim ships, the spline against an independent natural
// cubic spline. Native only (runs python3 and reads files of the build machine).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "TestFiles.h"
#include "classlib/SysUtils.h"
#include "scene/core/vg_geometry.h"
#include "scene/core/vg_types.h"

namespace {

// Sends every request line to the reference script in one run; answers its output lines.
std::vector<std::string> AskReference(const std::vector<std::string>& requests) {
  const std::string script = SourceFilePath("tests/scene/core/scene_reference.py");
  TempDir dir;
  {
    std::ofstream in(dir.File("requests.txt"));
    for (const auto& r : requests) in << r << "\n";
  }
  return TextLines(CommandOutput("python3 '" + script + "' < '" + dir.File("requests.txt") + "'"));
}

std::string Exact(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

TEST(VgReference, RgbToHslMatchesColorsys) {
  std::mt19937 random(4);
  std::vector<TvgColor> colours = {0xFF000000u, 0xFFFFFFFFu, 0xFF808080u, 0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu};
  for (int i = 0; i < 3000; ++i) colours.push_back(static_cast<TvgColor>(random()) | 0xFF000000u);
  std::vector<std::string> requests;
  for (TvgColor c : colours) {
    requests.push_back("rgb2hls " + std::to_string(c >> 16 & 255) + " " + std::to_string(c >> 8 & 255) + " " +
                       std::to_string(c & 255));
  }
  const auto answers = AskReference(requests);
  ASSERT_EQ(answers.size(), colours.size()) << "python3 with colorsys is needed";
  for (size_t i = 0; i < colours.size(); ++i) {
    double h, s, l;
    ASSERT_EQ(std::sscanf(answers[i].c_str(), "%lf %lf %lf", &h, &s, &l), 3);
    float mh, ms, ml;
    vgRGBtoHSL(colours[i], mh, ms, ml);
    EXPECT_NEAR(mh, h, 1e-6) << std::hex << colours[i];
    EXPECT_NEAR(ms, s, 1e-6) << std::hex << colours[i];
    EXPECT_NEAR(ml, l, 1e-6) << std::hex << colours[i];
  }
}

TEST(VgReference, HslToRgbMatchesColorsys) {
  std::mt19937 random(8);
  std::uniform_real_distribution<float> unit(0, 1);
  std::vector<std::array<float, 3>> inputs;
  for (int i = 0; i < 3000; ++i) inputs.push_back({unit(random), unit(random), unit(random)});
  for (float h : {0.0f, 1.0f / 6, 0.5f, 2.0f / 3, 1.0f}) inputs.push_back({h, 1, 0.5f});
  std::vector<std::string> requests;
  for (const auto& in : inputs) requests.push_back("hls2rgb " + Exact(in[0]) + " " + Exact(in[1]) + " " + Exact(in[2]));
  const auto answers = AskReference(requests);
  ASSERT_EQ(answers.size(), inputs.size()) << "python3 with colorsys is needed";
  int exact = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    int r, g, b;
    ASSERT_EQ(std::sscanf(answers[i].c_str(), "%d %d %d", &r, &g, &b), 3);
    const TvgColor c = vgHSLtoRGB(inputs[i][0], inputs[i][1], inputs[i][2]);
    const int mr = c >> 16 & 255, mg = c >> 8 & 255, mb = c & 255;
    // The two differ only in the order of the float operations, so a half can fall either way.
    EXPECT_LE(std::abs(mr - r), 1);
    EXPECT_LE(std::abs(mg - g), 1);
    EXPECT_LE(std::abs(mb - b), 1);
    EXPECT_EQ(c >> 24, 0xFFu);
    exact += mr == r && mg == g && mb == b;
  }
  EXPECT_GT(exact, static_cast<int>(inputs.size()) * 99 / 100);
}

TEST(VgReference, ColourNamesMatchTheCssTable) {
  std::ifstream in("/usr/share/vim/vim90/colors/lists/csscolors.vim");
  if (!in) GTEST_SKIP() << "vim's CSS colour list is not installed";
  std::map<std::string, TvgColor> css;
  const std::regex entry("'css_([a-z]+)': '#([0-9a-fA-F]{6})'");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, entry)) css[m[1]] = 0xFF000000u | static_cast<TvgColor>(std::stoul(m[2], nullptr, 16));
  }
  ASSERT_GE(css.size(), 147u);
  int matched = 0;
  for (const TvgColorIdent& ident : vgColorIdents) {
    const auto found = css.find(LowerCase(ident.Name));
    ASSERT_NE(found, css.end()) << ident.Name;
    EXPECT_EQ(vgStrToColor(ident.Name), found->second) << ident.Name;
    ++matched;
  }
  for (const auto& [name, value] : css) {
    if (name == "rebeccapurple" || name == "transparent") continue;  // later than SVG 1.1
    EXPECT_EQ(vgStrToColor(name), value) << name;
  }
  EXPECT_EQ(matched, 147);
}

TEST(VgReference, SplineMatchesANaturalCubicSpline) {
  std::mt19937 random(13);
  std::uniform_real_distribution<float> any(-20, 20);
  std::vector<std::string> requests;
  std::vector<TvgPolygon> polygons;
  std::vector<std::vector<float>> samples;
  for (int k = 0; k < 40; ++k) {
    const int n = 2 + k % 9;
    TvgPolygon polygon;
    for (int i = 0; i < n; ++i) polygon.push_back({any(random), any(random)});
    std::vector<float> ts;
    for (int i = 0; i <= 40; ++i) ts.push_back((n - 1) * i / 40.0f);
    for (int axis = 0; axis < 2; ++axis) {
      std::string request = "spline " + std::to_string(n);
      for (const TvgPoint& p : polygon) request += " " + Exact(axis == 0 ? p.X : p.Y);
      for (float t : ts) request += " " + Exact(t);
      requests.push_back(request);
    }
    polygons.push_back(polygon);
    samples.push_back(ts);
  }
  const auto answers = AskReference(requests);
  ASSERT_EQ(answers.size(), requests.size()) << "python3 is needed";
  for (size_t k = 0; k < polygons.size(); ++k) {
    TvgSpline spline(polygons[k]);
    std::istringstream xs(answers[2 * k]), ys(answers[2 * k + 1]);
    for (float t : samples[k]) {
      double rx, ry;
      xs >> rx;
      ys >> ry;
      float x, y;
      spline.Evaluate(t, x, y);
      EXPECT_NEAR(x, rx, 2e-3) << k << " t=" << t;
      EXPECT_NEAR(y, ry, 2e-3) << k << " t=" << t;
    }
  }
}

}  // namespace
