#include <gtest/gtest.h>

#include "support/FakeMetrics.h"
#include "support/TestSupport.h"
#include "ui/Markup.h"

namespace brek::test {
namespace {

const FixedMetrics kMetrics;

LabelStyle Style(Color c = Color::White()) {
  LabelStyle s;
  s.font.color = c;
  return s;
}

MarkupLayout Lay(const std::string& text, int width, int height, LabelStyle style = Style()) {
  return LayoutMarkup(text, style, {0, 0, width, height}, kMetrics);
}

// The lines as drawn: the texts of the runs sharing a top, joined.
std::vector<std::string> Lines(const MarkupLayout& l) {
  std::vector<std::string> lines;
  int top = -1;
  for (const auto& r : l.runs) {
    if (r.top != top) {
      lines.emplace_back();
      top = r.top;
    }
    lines.back() += r.text;
  }
  return lines;
}

TEST(Markup, StateLabelWrapsAtBlanksAndNeverDrawsAFourthLine) {
  const std::string text = W("Брек GSM подключен.<BR>Необходимо обновить версию программного обеспечения прибора.");
  const MarkupLayout l = Lay(text, 290, 42);
  const auto lines = Lines(l);
  ASSERT_EQ(l.lineCount, 3);
  EXPECT_EQ(lines[0], W("Брек GSM подключен."));
  // 289 usable pixels at 6 px a character: 48 characters at most; a line keeps its trailing blank.
  EXPECT_EQ(lines[1], W("Необходимо обновить версию программного "));
  EXPECT_EQ(lines[2], W("обеспечения прибора."));
  EXPECT_EQ(l.runs.front().left, 1);  // the 1-pixel left start
  EXPECT_EQ(l.runs.back().top, 26);
  EXPECT_EQ(l.runs.back().bottom, 39);

  const std::string longer = W("Брек GSM подключен.<BR>") + std::string(200, 'a').replace(40, 1, " ").replace(90, 1, " ").replace(140, 1, " ");
  EXPECT_EQ(Lay(longer, 290, 42).lineCount, 3);
}

TEST(Markup, ActionLabelShowsOneLineOnly) {
  const MarkupLayout l = Lay(W("Выберите ситуацию на объекте: и ещё много слов, которые не помещаются в одну строку"), 270, 19);
  EXPECT_EQ(l.lineCount, 1);
  EXPECT_EQ(Lay("", 270, 19).runs.size(), 0u);
  EXPECT_EQ(Lay("", 270, 19).lineCount, 0);
}

TEST(Markup, FirstLineIsAlwaysDrawnEvenWhenTheLabelIsTooLow) {
  EXPECT_EQ(Lay("one<BR>two", 100, 5).lineCount, 1);
}

TEST(Markup, LowerCaseTagsActLikeUpperCase) {
  const auto upper = Lay("<B>Bold</B> x<BR>next", 200, 40);
  const auto lower = Lay("<b>Bold</b> x<br>next", 200, 40);
  ASSERT_EQ(Lines(lower), Lines(upper));
  EXPECT_TRUE(lower.runs[0].font.bold);
  EXPECT_FALSE(lower.runs[1].font.bold);
  EXPECT_EQ(Lines(lower), (std::vector<std::string>{"Bold x", "next"}));
  // Any tag beginning with B and R breaks the line.
  EXPECT_EQ(Lines(Lay("a<BRX>b", 200, 40)), (std::vector<std::string>{"a", "b"}));
  // Bold is a flag: one close ends any number of opens; it carries across a line break.
  const auto bold = Lay("<B><B>a<BR>b</B>c", 200, 40);
  EXPECT_TRUE(bold.runs[1].font.bold);
  EXPECT_FALSE(bold.runs[2].font.bold);
}

TEST(Markup, GreyTitleIsBoldGreyAndTextAfterFontCloseIsBackToTheLabelColour) {
  const auto l = Lay(W("<FONT color=\"#96938D\"><B>Объекты</B></FONT> after"), 200, 13, Style(Color::Black()));
  ASSERT_GE(l.runs.size(), 2u);
  EXPECT_EQ(l.runs[0].text, W("Объекты"));
  EXPECT_TRUE(l.runs[0].font.bold);
  EXPECT_EQ(l.runs[0].font.color, Color::Rgb(150, 147, 141));
  EXPECT_EQ(l.runs.back().font.color, Color::Black());
  EXPECT_FALSE(l.runs.back().font.bold);
  // Lower-case hexadecimal gives the same grey.
  EXPECT_EQ(Lay("<font color=\"#96938d\">x</font>", 200, 13).runs[0].font.color, Color::Rgb(150, 147, 141));
}

TEST(Markup, FontTagColourRules) {
  auto colorOf = [](const std::string& tag) { return Lay(tag + "x", 200, 13, Style(Color::White())).runs[0].font.color; };
  EXPECT_EQ(colorOf("<FONT color=\"clRed\">"), Color::Rgb(255, 0, 0));
  EXPECT_EQ(colorOf("<FONT color=\"nonsense\">"), Color::Black());
  EXPECT_EQ(colorOf("<FONT color=#FF0000>"), Color::White());     // no quotes: unchanged
  EXPECT_EQ(colorOf("<FONT color=\"\">"), Color::White());         // empty: unchanged
  EXPECT_EQ(colorOf("<FONT bgcolor=\"#FF0000\">"), Color::White()); // BGCOLOR is not COLOR
  const auto bg = Lay("<FONT bgcolor=\"#FF0000\" face=\"Arial\" size=\"3\">x</FONT>y", 200, 40).runs;
  ASSERT_EQ(bg.size(), 2u);
  EXPECT_EQ(bg[0].background, Color::Rgb(255, 0, 0));
  EXPECT_EQ(bg[0].font.name, "Arial");
  EXPECT_EQ(bg[0].font.heightPx, 16);  // size 3 is 12 points
  EXPECT_FALSE(bg[1].background);
  EXPECT_EQ(bg[1].font.name, "Tahoma");
  EXPECT_EQ(bg[1].font.heightPx, 11);
}

TEST(Markup, NestedFontTagsEndAtOnce) {
  const auto l = Lay("<FONT color=\"#FF0000\"><FONT color=\"#00FF00\">a</FONT>b</FONT>c", 200, 13, Style(Color::White()));
  ASSERT_EQ(l.runs.size(), 3u);
  EXPECT_EQ(l.runs[0].font.color, Color::Rgb(0, 255, 0));
  EXPECT_EQ(l.runs[1].font.color, Color::White());
  EXPECT_EQ(l.runs[2].font.color, Color::White());
}

TEST(Markup, LessThanEntityDrawsAndALoneLessThanCutsTheRest) {
  EXPECT_EQ(Lines(Lay("a &lt; b", 200, 13)), (std::vector<std::string>{"a < b"}));
  EXPECT_EQ(Lines(Lay("a < b", 200, 13)), (std::vector<std::string>{"a "}));
  EXPECT_EQ(Lines(Lay("ab<", 200, 13)), (std::vector<std::string>{"ab"}));
  EXPECT_EQ(Lines(Lay("x&nbsp;y &GT;", 200, 13)), (std::vector<std::string>{"x y >"}));
}

TEST(Markup, BlanksAreNeverCollapsed) {
  const auto l = Lay("a  |  b", 200, 13);
  ASSERT_EQ(Lines(l), (std::vector<std::string>{"a  |  b"}));
  // Each blank is its own run and moves the pen by one blank width.
  EXPECT_EQ(l.runs.back().left, 1 + 6 * 6);
}

TEST(Markup, AWordWiderThanTheLabelStandsAloneAndIsClipped) {
  const auto l = Lay("ab " + std::string(40, 'w') + " cd", 100, 60);
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"ab ", std::string(40, 'w') + " ", "cd"}));
  EXPECT_EQ(l.runs[1].right, 100);  // clipped at the right edge
}

TEST(Markup, AWordContinuedAfterATagIsNeverSplit) {
  // "abcdefgh" fits only if split; the part after the tag stays on the line anyway.
  const auto l = Lay("xxxxxxxxxxxx abcd<B>efgh", 100, 60);
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"xxxxxxxxxxxx ", "abcdefgh"}));
  // Even past the right edge: the word is clipped, not split.
  const auto joined = Lay("xxxxxxxxxx ab<B>cdefgh", 100, 60);
  EXPECT_EQ(Lines(joined), (std::vector<std::string>{"xxxxxxxxxx abcdefgh"}));
}

TEST(Markup, RunsAreBottomAlignedInTheTallestRunsLine) {
  const auto l = Lay("a<FONT size=\"5\">B</FONT>c<BR>d", 200, 80);
  ASSERT_EQ(l.runs.size(), 4u);
  const int lineHeight = 21 + 2;  // 16 points are 21 pixels
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(l.runs[i].top, 0);
    EXPECT_EQ(l.runs[i].bottom, lineHeight);
  }
  EXPECT_EQ(l.runs[3].top, lineHeight);
}

TEST(Markup, UnknownTagsDisappearAndOtherTagsMeetTheirReaction) {
  EXPECT_EQ(Lines(Lay("a<XYZ foo>b<IMG src=\"x\">c<P>d</P>e", 200, 60)), (std::vector<std::string>{"abcd", "e"}));
  EXPECT_EQ(Lines(Lay("a<Z>hidden</Z>b", 200, 13)), (std::vector<std::string>{"ab"}));
  EXPECT_EQ(Lines(Lay("a<HR>b", 200, 40)), (std::vector<std::string>{"a", "b"}));
  const auto u = Lay("<U>a</U><I>b</I><S>c</S><A href=\"x\">d</A>", 200, 13).runs;
  ASSERT_EQ(u.size(), 4u);
  EXPECT_TRUE(u[0].font.underline);
  EXPECT_TRUE(u[1].font.italic);
  EXPECT_TRUE(u[2].font.strikeOut);
  EXPECT_EQ(u[3].font.color, Color::Blue());
}

TEST(Markup, ShadowIsDrawnFirstInTheShadowColourMovedByTheOffset) {
  const auto l = Lay("<SHAD>a</SHAD>b", 200, 13);
  ASSERT_EQ(l.runs.size(), 3u);
  EXPECT_EQ(l.runs[0].font.color, Color::Gray());
  EXPECT_EQ(l.runs[0].left, l.runs[1].left + 2);
  EXPECT_EQ(l.runs[0].top, l.runs[1].top + 2);
  EXPECT_EQ(l.runs[1].font.color, Color::White());
}

TEST(Markup, PreparationEntitiesHashRuleAndLineEnds) {
  EXPECT_EQ(PrepareMarkup("a&AMP;b&quot;&euro;"), "a&&b\"\x80");
  EXPECT_EQ(PrepareMarkup("&quot;&QUOT;x&quot;y&quot"), "\"\"x\"y&quot");  // every one, ends included
  EXPECT_EQ(PrepareMarkup("x<#y>z<#q>"), "x#yz<#q>");
  EXPECT_EQ(PrepareMarkup("a\r\nb"), "a<BR>b");
  EXPECT_EQ(Lines(Lay("a\r\nb", 200, 40)), (std::vector<std::string>{"a", "b"}));
}

TEST(Markup, AmpersandMarksAMnemonicUnlessTheTextHoldsAFreeAmpersand) {
  auto l = Lay("&File &&x", 200, 13).runs;
  EXPECT_EQ(l[0].text, "File ");
  EXPECT_EQ(l[0].mnemonic, 0);
  EXPECT_EQ(l[1].text, "&x");
  EXPECT_EQ(l[1].mnemonic, -1);
  EXPECT_EQ(Lines(Lay("A & B &C", 200, 13)), (std::vector<std::string>{"A & B &C"}));
}

TEST(Markup, VerticalAlignmentMovesTheBlockDown) {
  LabelStyle s = Style();
  s.vAlignment = VAlignment::tvaBottom;
  EXPECT_EQ(Lay("a", 100, 42, s).runs[0].top, 42 - 13);
  s.vAlignment = VAlignment::tvaCenter;
  EXPECT_EQ(Lay("a", 100, 42, s).runs[0].top, (42 - 13) / 2);
}

TEST(Markup, WithoutWordWrapEverythingStaysOnOneLine) {
  LabelStyle s = Style();
  s.ellipsis = true;
  EXPECT_EQ(Lay("one two three four five six", 30, 60, s).lineCount, 1);
}

TEST(Markup, PaintDrawsEveryLaidOutRunInOrder) {
  struct Recorder : MarkupPainter {
    std::vector<std::string> texts;
    void DrawRun(const LaidOutRun& r) override { texts.push_back(r.text); }
  } rec;
  PaintMarkup(Lay("a b<BR>c", 100, 40), rec);
  EXPECT_EQ(rec.texts, (std::vector<std::string>{"a ", "b", "c"}));
}

TEST(Markup, PlainTextIsWhatIsDrawnWithALineBreakForEachLineEnd) {
  EXPECT_EQ(MarkupPlainText("<B>a</B> &lt;b&gt;&nbsp;<Z>hidden</Z>c  <BR>&&d&e<BR><BR>x<y"), "a <b> c\n&de\n\nx");
  EXPECT_EQ(MarkupPlainText("a & b \r"), "a & b");  // a free ampersand stays; CR is a line end
  EXPECT_EQ(MarkupPlainText(" "), "");
}

}  // namespace
}  // namespace brek::test
