// QR codes as a phone's camera needs them: the finder patterns where a reader
// looks for them, and the terminal's drawing of exactly the code's modules.
#include "qr/qr_code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string kLink =
    "http://192.168.1.20:8080/"
    "#token=9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

// The module grid a terminal drawing stands for, quiet zone included: the
// drawing read back glyph by glyph.
std::vector<std::vector<bool>> ReadBack(const std::string& text, bool glyphIsDark) {
  std::vector<std::vector<bool>> rows;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    std::string line = text.substr(at, end - at);
    at = end + 1;
    for (const std::string& code : {std::string("\x1b[30;47m"), std::string("\x1b[0m")}) {
      for (std::size_t p; (p = line.find(code)) != std::string::npos;) line.erase(p, code.size());
    }
    std::vector<bool> top, bottom;
    for (std::size_t i = 0; i < line.size();) {
      bool t = false, b = false;
      if (line.compare(i, 3, "\u2588") == 0) {
        t = b = true;
        i += 3;
      } else if (line.compare(i, 3, "\u2580") == 0) {
        t = true;
        i += 3;
      } else if (line.compare(i, 3, "\u2584") == 0) {
        b = true;
        i += 3;
      } else {
        EXPECT_EQ(line[i], ' ') << "unexpected byte in " << line;
        i += 1;
      }
      top.push_back(t == glyphIsDark);
      bottom.push_back(b == glyphIsDark);
    }
    rows.push_back(top);
    rows.push_back(bottom);
  }
  return rows;
}

TEST(QrCode, HasItsThreeFinderPatternsAndTimingLines) {
  const auto encoded = qr::QrCode::Encode(kLink);
  ASSERT_TRUE(encoded) << encoded.message();
  const qr::QrCode& code = encoded.value();
  const int n = code.Size();
  EXPECT_EQ((n - 21) % 4, 0) << n;
  EXPECT_GE(n, 37) << "a 98-byte link needs version 5 or more";
  // Dark ring, light ring, dark 3x3 centre; a light separator around it.
  const auto finderAt = [&](int left, int top) {
    for (int y = -1; y <= 7; ++y) {
      for (int x = -1; x <= 7; ++x) {
        const int ring = std::max(std::abs(x - 3), std::abs(y - 3));
        const bool dark = ring != 2 && ring != 4;
        const int cx = left + x, cy = top + y;
        if (cx < 0 || cy < 0 || cx >= n || cy >= n) continue;
        EXPECT_EQ(code.Dark(cx, cy), dark)
            << "finder at " << left << "," << top << " module " << x << "," << y;
      }
    }
  };
  finderAt(0, 0);
  finderAt(n - 7, 0);
  finderAt(0, n - 7);
  for (int i = 8; i < n - 8; ++i) {
    EXPECT_EQ(code.Dark(i, 6), i % 2 == 0) << "timing row at " << i;
    EXPECT_EQ(code.Dark(6, i), i % 2 == 0) << "timing column at " << i;
  }
  EXPECT_FALSE(code.Dark(-1, 0));
  EXPECT_FALSE(code.Dark(0, n));
}

TEST(QrCode, RefusesWhatNoCodeHolds) {
  const struct {
    std::string text;
    const char* said;
  } cases[] = {
      {"", "nothing to put into a QR code"},
      {std::string(3000, 'x'), "3000 bytes, more than a QR code holds"},
  };
  for (const auto& c : cases) {
    const auto encoded = qr::QrCode::Encode(c.text);
    ASSERT_FALSE(encoded) << c.text.size();
    EXPECT_NE(encoded.message().find(c.said), std::string::npos) << encoded.message();
  }
}

// Both drawings hold exactly the code's modules inside a light quiet zone,
// two rows to a line, whichever colour the glyphs stand for.
TEST(QrCode, TerminalDrawingsHoldExactlyTheModules) {
  const auto encoded = qr::QrCode::Encode(kLink);
  ASSERT_TRUE(encoded);
  const qr::QrCode& code = encoded.value();
  for (const int quiet : {2, 4}) {
    for (const auto& [terminal, glyphIsDark] :
         {std::pair{qr::Terminal::Colours, true}, std::pair{qr::Terminal::LightOnDark, false}}) {
      SCOPED_TRACE("quiet " + std::to_string(quiet) + (glyphIsDark ? ", colours" : ", plain"));
      const std::string text = qr::TerminalText(code, terminal, quiet);
      const int side = code.Size() + 2 * quiet;
      const auto rows = ReadBack(text, glyphIsDark);
      ASSERT_EQ(static_cast<int>(rows.size()), (side + 1) / 2 * 2);
      for (int y = 0; y < side; ++y) {
        ASSERT_EQ(static_cast<int>(rows[static_cast<std::size_t>(y)].size()), side) << y;
        for (int x = 0; x < side; ++x) {
          EXPECT_EQ(rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)],
                    code.Dark(x - quiet, y - quiet))
              << x << "," << y;
        }
      }
      if (glyphIsDark) {
        EXPECT_EQ(text.rfind("\x1b[30;47m", 0), 0u);
      }
    }
  }
}

}  // namespace
