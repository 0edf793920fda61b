// Value types: rect and matrix maths, colours, premultiplication, HSL and the text forms.
#include "scene/core/vg_types.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <random>

#include "classlib/SysUtils.h"
#include "scene/core/vg_tokens.h"

namespace {

// --- Colour text

TEST(VgColorText, WritesEightUpperCaseDigitsAlphaFirst) {
  EXPECT_EQ(vgColorToStr(0x80FF0000u), "#80FF0000");
  EXPECT_EQ(vgColorToStr(0xFF242315u), "#FF242315");
  EXPECT_EQ(vgColorToStr(0), "#00000000");
  EXPECT_EQ(vgColorToStr(0x0000000Au), "#0000000A");
}

TEST(VgColorText, ReadsHexNamesAndIntegers) {
  EXPECT_EQ(vgStrToColor("#80ff0000"), 0x80FF0000u);
  EXPECT_EQ(vgStrToColor("#FFFFFFFF"), 0xFFFFFFFFu);
  // Six digits are taken as they stand: a fully transparent red.
  EXPECT_EQ(vgStrToColor("#FF0000"), 0x00FF0000u);
  EXPECT_EQ(vgStrToColor("red"), 0xFFFF0000u);
  EXPECT_EQ(vgStrToColor("RED"), 0xFFFF0000u);
  EXPECT_EQ(vgStrToColor("Red"), 0xFFFF0000u);
  EXPECT_EQ(vgStrToColor("LightGoldenRodYellow"), 0xFFFAFAD2u);
  EXPECT_EQ(vgStrToColor("gray"), vgStrToColor("GREY"));
  EXPECT_EQ(vgStrToColor(""), 0u);
  EXPECT_EQ(vgStrToColor("255"), 255u);
  EXPECT_EQ(vgStrToColor("$FF00FF00"), 0xFF00FF00u);
  EXPECT_EQ(vgStrToColor("-1"), 0xFFFFFFFFu);
}

TEST(VgColorText, UnreadableTextGivesZeroWithoutRaising) {
  for (const char* text : {"#", "#12345678A", "#GG000000", "notacolor", "12abc", "99999999999", "#-1"}) {
    EXPECT_NO_THROW(EXPECT_EQ(vgStrToColor(text), 0u) << text);
  }
}

TEST(VgColorText, NameTableIsSortedOpaqueAndRoundTrips) {
  for (int i = 0; i < vgColorIdentCount; ++i) {
    const TvgColorIdent& ident = vgColorIdents[i];
    if (i > 0) {
      EXPECT_LT(CompareText(vgColorIdents[i - 1].Name, ident.Name), 0) << ident.Name;
    }
    const TvgColor c = vgStrToColor(ident.Name);
    EXPECT_EQ(c >> 24, 0xFFu) << ident.Name;
    EXPECT_EQ(vgColorToStr(c), ident.Value) << ident.Name;
    EXPECT_EQ(vgStrToColor(LowerCase(ident.Name)), c);
  }
  EXPECT_EQ(vgStrToColor("black"), 0xFF000000u);
}

// --- Number text

TEST(VgFloatText, WholeNumbersWithoutFractionOthersWithThreeDecimals) {
  EXPECT_EQ(vgFloatToStr(2.0f), "2");
  EXPECT_EQ(vgFloatToStr(12), "12");
  EXPECT_EQ(vgFloatToStr(-3), "-3");
  EXPECT_EQ(vgFloatToStr(0), "0");
  EXPECT_EQ(vgFloatToStr(-0.0f), "0");
  EXPECT_EQ(vgFloatToStr(0.1f), "0.100");
  EXPECT_EQ(vgFloatToStr(0.5f), "0.500");
  EXPECT_EQ(vgFloatToStr(1.25f), "1.250");
  EXPECT_EQ(vgFloatToStr(-1.0f / 3), "-0.333");
  EXPECT_EQ(vgFloatToStr(1234.5678f), "1234.568");
  EXPECT_EQ(vgFloatToStr(16777216.0f), "16777216");
  EXPECT_EQ(vgFloatToStr(1e20f), "100000002004087734272");
}

TEST(VgFloatText, ReadsDotDecimalsAndRejectsTheRest) {
  EXPECT_FLOAT_EQ(vgStrToFloat("1.5"), 1.5f);
  EXPECT_FLOAT_EQ(vgStrToFloat(" -2.25 "), -2.25f);
  EXPECT_FLOAT_EQ(vgStrToFloat("1e3"), 1000.0f);
  EXPECT_FLOAT_EQ(vgStrToFloat(".5"), 0.5f);
  for (const char* bad : {"", " ", "1,5", "abc", "1.5x", "inf", "nan", "0x10", "1e999", "--1"}) {
    EXPECT_THROW(vgStrToFloat(bad), EConvertError) << bad;
  }
}

// The text routines must not touch the process-wide locale or decimal separator: a host's other
// threads share it. Under a locale with a decimal comma the texts stay the same.
TEST(VgFloatText, IndependentOfTheLocaleAndLeavesItAlone) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  const char* comma = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252", "de-DE"}) {
    if (std::setlocale(LC_ALL, name)) {
      comma = name;
      break;
    }
  }
  const std::string during = std::setlocale(LC_ALL, nullptr);
  EXPECT_EQ(vgFloatToStr(0.5f), "0.500");
  EXPECT_FLOAT_EQ(vgStrToFloat("2.5"), 2.5f);
  EXPECT_EQ(vgPointToString(vgPoint(10, 20.5f)), "(10,20.500)");
  EXPECT_EQ(std::string(std::setlocale(LC_ALL, nullptr)), during);
  std::setlocale(LC_ALL, before.c_str());
  if (!comma) GTEST_SKIP() << "no locale with a decimal comma installed; checked under the C locale";
}

TEST(VgGeometryText, PointsAndRects) {
  EXPECT_EQ(vgPointToString(vgPoint(10, 20.5f)), "(10,20.500)");
  EXPECT_EQ(vgRectToString(vgRect(0, 0, 100, 50)), "(0,0,100,50)");
  EXPECT_EQ(vgStringToRect("(0,0,100,50)"), vgRect(0, 0, 100, 50));
  EXPECT_EQ(vgStringToRect("(1.5, -2 ,3,4.250)"), vgRect(1.5f, -2, 3, 4.25f));
  EXPECT_EQ(vgStringToPoint("( 1 , 2 )"), vgPoint(1, 2));
  EXPECT_THROW(vgStringToPoint("(1)"), EConvertError);
  EXPECT_THROW(vgStringToRect("(1,2,3)"), EConvertError);
  EXPECT_THROW(vgStringToPoint(""), EConvertError);
  std::mt19937 random(7);
  std::uniform_real_distribution<float> any(-5000, 5000);
  for (int i = 0; i < 500; ++i) {
    // Values of at most three decimals survive the text exactly (as singles).
    const TvgRect r = {static_cast<float>(Round(any(random) * 1000)) / 1000, static_cast<float>(Round(any(random))),
                       any(random), 0.125f};
    const TvgRect back = vgStringToRect(vgRectToString(r));
    EXPECT_NEAR(back.Left, r.Left, 0.0006f);
    EXPECT_EQ(back.Top, r.Top);
    EXPECT_NEAR(back.Right, r.Right, 0.0006f);
    EXPECT_EQ(back.Bottom, 0.125f);
  }
}

TEST(VgTokens, CutsTokensAndTrims) {
  std::string s = "( 1 , 2 )";
  EXPECT_EQ(vgGetToken(s, ",()"), "");
  EXPECT_EQ(vgGetToken(s, ",()"), "1");
  EXPECT_EQ(vgGetToken(s, ",()"), "2");
  EXPECT_EQ(s, "");
  std::string q = "quality=100;x";
  EXPECT_EQ(vgGetToken(q, "=", ";"), "quality");
  EXPECT_EQ(vgGetToken(q, "=", ";"), "100");
  EXPECT_EQ(q, ";x");
  int32_t pos = 0;
  const WideString text = u"one  two,three";
  EXPECT_EQ(vgWideGetToken(pos, text, u" ,"), u"one");
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(vgWideGetToken(pos, text, u" ,"), u"two");
  EXPECT_EQ(vgWideGetToken(pos, text, u" ,"), u"three");
  EXPECT_EQ(vgWideGetToken(pos, text, u" ,"), u"");
  EXPECT_EQ(pos, 14);
}

// --- Rects

TEST(VgRects, EdgeSharingRectsIntersectOnlyInTheClosedSense) {
  const TvgRect a = vgRect(0, 0, 10, 10), b = vgRect(10, 0, 20, 10);
  TvgRect dest = vgRect(1, 2, 3, 4);
  EXPECT_TRUE(vgIntersectsRect(a, b));
  EXPECT_FALSE(vgIntersectRect(dest, a, b));
  EXPECT_EQ(dest, TvgRect());
  EXPECT_TRUE(vgIntersectRect(dest, a, vgRect(5, -5, 15, 5)));
  EXPECT_EQ(dest, vgRect(5, 0, 10, 5));
  EXPECT_TRUE(vgPtInRect(vgPoint(10, 10), a));
  EXPECT_FALSE(vgPtInRect(vgPoint(10.01f, 10), a));
}

TEST(VgRects, HelpersFollowTheirRules) {
  EXPECT_EQ(vgPolygonBounds(TvgPolygon{}), vgRect(61440, 61440, -61440, -61440));
  EXPECT_EQ(vgPolygonBounds({{1, 5}, {-2, 3}, {4, -1}}), vgRect(-2, -1, 4, 5));
  EXPECT_EQ(vgPolygonBounds({{1, 5}, {-2, 3}, {4, -1}}, 1), vgRect(-2, 3, 1, 5));
  EXPECT_EQ(vgPolygonBounds({{1, 5}}, 7), vgRect(1, 5, 1, 5));
  EXPECT_EQ(vgNormalizeRect(vgRect(5, 6, 1, 2)), vgRect(1, 2, 5, 6));
  EXPECT_EQ(vgUnionRect(vgRect(0, 0, 1, 1), vgRect(5, -2, 6, 0)), vgRect(0, -2, 6, 1));
  TvgRect r = vgRect(0, 0, 10, 10);
  vgInflateRect(r, -2, 3);
  EXPECT_EQ(r, vgRect(2, -3, 8, 13));
  vgOffsetRect(r, 1, 1);
  EXPECT_EQ(r, vgRect(3, -2, 9, 14));
  vgMultiplyRect(r, 2, 0.5f);
  EXPECT_EQ(r, vgRect(6, -1, 18, 7));
  EXPECT_TRUE(vgIsRectEmpty(vgRect(0, 0, 0, 5)));
  EXPECT_FALSE(vgIsRectEmpty(vgRect(0, 0, 1, 5)));
}

TEST(VgRects, CenterAndFit) {
  TvgRect r = vgRect(0, 0, 3, 3);
  // (10 - 3) / 2 = 3.5 rounds to the even 4; (8 - 3) / 2 = 2.5 to 2.
  EXPECT_EQ(vgRectCenter(r, vgRect(0, 0, 10, 8)), vgRect(4, 2, 7, 5));
  TvgRect small = vgRect(5, 5, 15, 10);
  EXPECT_FLOAT_EQ(vgFitRect(small, vgRect(0, 0, 100, 100)), 0.1f);
  EXPECT_EQ(small, vgRect(45, 48, 55, 53));  // not enlarged; (100 - 5) / 2 = 47.5 -> 48
  TvgRect big = vgRect(0, 0, 400, 100);
  EXPECT_FLOAT_EQ(vgFitRect(big, vgRect(0, 0, 200, 200)), 2.0f);
  EXPECT_EQ(big, vgRect(0, 75, 200, 125));
  TvgRect same = vgRect(1, 2, 3, 4);
  EXPECT_FLOAT_EQ(vgFitRect(same, vgRect(0, 0, 0, 50)), 1.0f);
  EXPECT_EQ(same, vgRect(1, 2, 3, 4));
}

// --- Vectors and matrices

TEST(VgMatrices, ProductsApplyFirstThenSecond) {
  std::mt19937 random(3);
  std::uniform_real_distribution<float> any(-10, 10);
  for (int i = 0; i < 200; ++i) {
    TvgMatrix a = vgCreateRotationMatrix(any(random));
    a.m11 *= any(random);
    a.m31 = any(random);
    a.m32 = any(random);
    TvgMatrix b = IdentityMatrix;
    b.m11 = any(random);
    b.m22 = any(random);
    b.m21 = any(random);
    b.m31 = any(random);
    const TvgVector v = vgVector(any(random), any(random));
    const TvgVector twice = vgVectorTransform(vgVectorTransform(v, a), b);
    const TvgVector once = vgVectorTransform(v, vgMatrixMultiply(a, b));
    EXPECT_NEAR(once.X, twice.X, 1e-2f);
    EXPECT_NEAR(once.Y, twice.Y, 1e-2f);
  }
}

TEST(VgMatrices, InverseUndoesTheMatrix) {
  std::mt19937 random(5);
  std::uniform_real_distribution<float> any(-4, 4);
  for (int i = 0; i < 200; ++i) {
    TvgMatrix m = {any(random), any(random), 0, any(random), any(random), 0, any(random), any(random), 1};
    if (std::fabs(vgMatrixDeterminant(m)) < 0.1f) continue;
    TvgMatrix inv = m;
    vgInvertMatrix(inv);
    const TvgMatrix product = vgMatrixMultiply(m, inv);
    const float* p = &product.m11;
    const float* id = &IdentityMatrix.m11;
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(p[k], id[k], 1e-3f) << k;
  }
  TvgMatrix zero = {};
  vgInvertMatrix(zero);
  EXPECT_EQ(zero, IdentityMatrix);
  TvgMatrix singular = {1, 2, 0, 2, 4, 0, 3, 3, 1};
  vgInvertMatrix(singular);
  EXPECT_EQ(singular, IdentityMatrix);
}

TEST(VgMatrices, DeterminantAndAdjugate) {
  TvgMatrix m = {2, 0, 1, 1, 3, 2, 1, 1, 1};
  EXPECT_FLOAT_EQ(vgMatrixDeterminant(m), 2 * (3 - 2) - 0 + 1 * (1 - 3));
  TvgMatrix adj = m;
  vgAdjointMatrix(adj);
  // m * adj(m) = det(m) * I
  const TvgMatrix product = vgMatrixMultiply(m, adj);
  EXPECT_EQ(product, (TvgMatrix{0, 0, 0, 0, 0, 0, 0, 0, 0}));  // det is 0 here
  TvgMatrix n = {2, 1, 0, 1, 3, 0, 4, 5, 1};
  TvgMatrix adjn = n;
  vgAdjointMatrix(adjn);
  const TvgMatrix pn = vgMatrixMultiply(n, adjn);
  EXPECT_EQ(pn, (TvgMatrix{5, 0, 0, 0, 5, 0, 0, 0, 5}));
}

TEST(VgVectors, AnglesAndRotation) {
  EXPECT_FLOAT_EQ(vgVectorAngle(vgVector(1, 0), vgVector(0, 1)), -90);
  EXPECT_FLOAT_EQ(vgVectorAngle(vgVector(0, 1), vgVector(1, 0)), 90);
  EXPECT_FLOAT_EQ(vgVectorAngle(vgVector(3, 0), vgVector(-1, 0)), -180);
  EXPECT_FALSE(std::isnan(vgVectorAngle(vgVector(0.1f, 0.3f), vgVector(0.2f, 0.6f))));
  EXPECT_EQ(vgVectorAngleCosine(vgVector(0, 0), vgVector(1, 0)), 0);
  const TvgVector r = vgVectorTransform(vgVector(1, 0), vgCreateRotationMatrix(vgPI / 2));
  EXPECT_NEAR(r.X, 0, 1e-6f);
  EXPECT_NEAR(r.Y, 1, 1e-6f);
  EXPECT_FLOAT_EQ(vgVectorLength(vgVector(3, 4, 7)), 5);
}

TEST(VgScalars, NormalizeAngle) {
  EXPECT_FLOAT_EQ(vgNormalizeAngle(-190), 170);
  EXPECT_FLOAT_EQ(vgNormalizeAngle(540), 180);
  EXPECT_FLOAT_EQ(vgNormalizeAngle(-540), -180);
  EXPECT_FLOAT_EQ(vgNormalizeAngle(359), 359);
  EXPECT_FLOAT_EQ(vgNormalizeAngle(720), 0);
}

// --- Colours

TEST(VgColors, Premultiplication) {
  EXPECT_EQ(vgPremultiplyAlpha(0x80408010u), 0x80204008u);
  EXPECT_EQ(vgPremultiplyAlpha(0x00FFFFFFu), 0u);
  EXPECT_EQ(vgPremultiplyAlpha(0xFF123456u), 0xFF123456u);
  EXPECT_EQ(vgUnpremultiplyAlpha(0x00123456u), 0u);
  EXPECT_EQ(vgUnpremultiplyAlpha(0xFF123456u), 0xFF123456u);
  // A channel above its alpha is not valid premultiplied data: it clamps instead of wrapping.
  EXPECT_EQ(vgUnpremultiplyAlpha(0x10FF2008u), 0x10FFFF7Fu);
  for (uint32_t a = 1; a < 255; ++a) {
    for (uint32_t v = 0; v < 256; v += 5) {
      const TvgColor c = a << 24 | v << 16 | v << 8 | v;
      const TvgColor p = vgPremultiplyAlpha(c);
      EXPECT_EQ(p >> 24, a);
      EXPECT_EQ(p & 0xFF, v * a / 255) << a << " " << v;  // exact truncation
      EXPECT_LE(p & 0xFF, a);
      // Unpremultiplying loses at most what the truncation lost.
      const uint32_t back = vgUnpremultiplyAlpha(p) & 0xFF;
      EXPECT_LE(back, v);
      EXPECT_GE(back + 255 / a + 1, v);
    }
  }
}

TEST(VgColors, OpacityAndInterpolation) {
  EXPECT_EQ(vgOpacityColor(0xFF102030u, 0.5f), 0x7F102030u);
  EXPECT_EQ(vgOpacityColor(0x80102030u, 1.5f), 0x80102030u);
  EXPECT_EQ(vgOpacityColor(0x80102030u, -1), 0x00102030u);
  EXPECT_EQ(vgInterpolateColor(0xFF000000u, 0xFFFFFFFFu, 0.5f), 0xFF7F7F7Fu);
  EXPECT_EQ(vgInterpolateColor(0x00FF0000u, 0xFF0000FFu, 0.25f), 0x3FC0003Fu);
  EXPECT_EQ(vgInterpolateColor(0x12345678u, 0x9ABCDEF0u, 0), 0x12345678u);
  EXPECT_EQ(vgInterpolateColor(0x12345678u, 0x9ABCDEF0u, 1), 0x9ABCDEF0u);
  // Overshooting easing curves: channels clamp at the ends instead of wrapping modulo 256.
  EXPECT_EQ(vgInterpolateColor(0xFF000000u, 0xFFFFFFFFu, 1.1f), 0xFFFFFFFFu);
  EXPECT_EQ(vgInterpolateColor(0xFF000000u, 0xFFFFFFFFu, -0.1f), 0xFF000000u);
  EXPECT_EQ(vgInterpolateColor(0x80204060u, 0x80406080u, -2), 0x80000020u);
}

TEST(VgColors, HslKnownValuesAndRoundTrip) {
  float h, s, l;
  vgRGBtoHSL(0xFFFF0000u, h, s, l);
  EXPECT_FLOAT_EQ(h, 0);
  EXPECT_FLOAT_EQ(s, 1);
  EXPECT_FLOAT_EQ(l, 0.5f);
  vgRGBtoHSL(0xFF0000FFu, h, s, l);
  EXPECT_FLOAT_EQ(h, 2.0f / 3);
  vgRGBtoHSL(0xFF808080u, h, s, l);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(vgHSLtoRGB(0, 0, 0.5f), 0xFF808080u);  // 127.5 rounds to the even 128
  EXPECT_EQ(vgHSLtoRGB(1.0f / 3, 1, 0.5f), 0xFF00FF00u);
  std::mt19937 random(11);
  for (int i = 0; i < 20000; ++i) {
    const TvgColor c = static_cast<TvgColor>(random()) | 0xFF000000u;
    vgRGBtoHSL(c, h, s, l);
    ASSERT_EQ(vgHSLtoRGB(h, s, l), c) << std::hex << c;
  }
}

TEST(VgColors, ChangeHslClampsHueAndKeepsAlpha) {
  // A colour of hue 0.8 (magenta-purple) with DH = 0.5: hue clamps to 1.0 (red), not 0.3.
  const TvgColor c = vgHSLtoRGB(0.8f, 1, 0.5f) & 0x80FFFFFFu;
  float h, s, l;
  const TvgColor changed = vgChangeHSL(c, 0.5f, 0, 0);
  EXPECT_EQ(changed >> 24, 0x80u);
  vgRGBtoHSL(changed, h, s, l);
  EXPECT_TRUE(h == 0 || h == 1) << h;
  EXPECT_EQ(changed & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(vgChangeHSL(0xFF336699u, 0, 0, 1) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(vgChangeHSL(0xFF336699u, 0, -1, 0), 0xFF666666u);
}

// --- Pixel buffers

TEST(VgPixels, FillsStayInsideTheBuffer) {
  std::vector<uint32_t> buffer(4 * 3, 0);
  vgFillLongwordRect(buffer.data(), 4, 3, 7, -2, 1, 99, 99);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(buffer[y * 4 + x], y >= 1 ? 7u : 0u);
  vgFillLongword(buffer.data(), 5, 0x11223344u);
  vgFillAlpha(buffer.data(), 2, 0x80);
  EXPECT_EQ(buffer[0], 0x80223344u);
  EXPECT_EQ(buffer[2], 0x11223344u);
  EXPECT_EQ(buffer[5], 7u);
  std::vector<uint32_t> copy(12, 0);
  vgMoveLongword(buffer.data(), copy.data(), 12);
  EXPECT_EQ(copy, buffer);
}

}  // namespace
