#include "ui/qt/QtMarkup.h"

#include <QFontMetrics>

#include "ui/qt/QtToolkit.h"

namespace brek {
namespace {

QString Expanded(std::string_view text) {
  QString s = ToQString(std::string(text));
  s.replace('\t', QStringLiteral("        "));
  return s;
}

QColor ToQColor(Color c) { return QColor(c.r, c.g, c.b); }

}  // namespace

QFont ToQFont(const FontSpec& desc) {
  QFont f(QString::fromStdString(desc.name));
  f.setPixelSize(desc.heightPx);
  f.setBold(desc.bold);
  f.setItalic(desc.italic);
  f.setUnderline(desc.underline);
  f.setStrikeOut(desc.strikeOut);
  return f;
}

TextSize QtFontMetrics::Measure(const FontSpec& font, std::string_view text) const {
  const QFontMetrics fm(ToQFont(font));
  return {fm.horizontalAdvance(Expanded(text)), fm.height()};
}

void QtMarkupPainter::DrawRun(const LaidOutRun& run) {
  const QRect box(run.left, run.top, run.right - run.left, run.bottom - run.top);
  if (box.width() <= 0 || box.height() <= 0) return;
  painter_.save();
  painter_.setClipRect(box);
  const QFont font = ToQFont(run.font);
  const QFontMetrics fm(font);
  const QString text = Expanded(run.text);
  if (run.background) painter_.fillRect(QRect(run.left, run.top, fm.horizontalAdvance(text), box.height()), ToQColor(*run.background));
  painter_.setFont(font);
  painter_.setPen(ToQColor(run.font.color));
  const int baseline = run.bottom - fm.descent();  // text sits on the bottom of its box
  painter_.drawText(run.left, baseline, text);
  if (run.mnemonic >= 0 && run.mnemonic < text.size()) {
    const int x = run.left + fm.horizontalAdvance(text.left(run.mnemonic));
    const int w = fm.horizontalAdvance(text.mid(run.mnemonic, 1));
    painter_.drawLine(x, baseline + 1, x + w - 1, baseline + 1);
  }
  painter_.restore();
}

MarkupLabelWidget::MarkupLabelWidget(THTMLabel& label, QWidget* parent) : QWidget(parent), label_(label) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setGeometry(label.Bounds.left, label.Bounds.top, label.Bounds.width, label.Bounds.height);
}

void MarkupLabelWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QtFontMetrics metrics;
  const MarkupLayout layout = LayoutMarkup(label_.HTMLText(), label_.Style, {0, 0, width(), height()}, metrics);
  QtMarkupPainter markupPainter(painter);
  PaintMarkup(layout, markupPainter);
}

}  // namespace brek
