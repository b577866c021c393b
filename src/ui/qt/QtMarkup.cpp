#include "ui/qt/QtMarkup.h"

#include <QAccessible>
#include <QAccessibleWidget>
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

// Static text whose name and text are the label's plain text; nothing in it is selected or
// has a caret.
class MarkupLabelAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit MarkupLabelAccessible(MarkupLabelWidget* w) : QAccessibleWidget(w, QAccessible::StaticText) {}

  QString text(QAccessible::Text t) const override {
    return t == QAccessible::Name ? Plain() : QAccessibleWidget::text(t);
  }
  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }

  QString text(int start, int end) const override { return Plain().mid(start, end - start); }
  int characterCount() const override { return static_cast<int>(Plain().size()); }
  void selection(int, int* start, int* end) const override { *start = *end = 0; }
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  int cursorPosition() const override { return 0; }
  void setCursorPosition(int) override {}
  QRect characterRect(int) const override { return {}; }
  int offsetAtPoint(const QPoint&) const override { return -1; }
  void scrollToSubstring(int, int) override {}
  QString attributes(int offset, int* start, int* end) const override {
    *start = *end = offset;
    return {};
  }

 private:
  QString Plain() const {
    const auto* label = dynamic_cast<const MarkupLabelWidget*>(widget());
    return label ? label->PlainText() : QString();  // asked while the label is being destroyed
  }
};

QAccessibleInterface* MarkupLabelAccessibleFactory(const QString&, QObject* object) {
  auto* label = dynamic_cast<MarkupLabelWidget*>(object);
  return label ? new MarkupLabelAccessible(label) : nullptr;
}

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

MarkupLabelWidget::MarkupLabelWidget(THTMLabel& label, QWidget* parent)
    : QWidget(parent), label_(label), plain_(ToQString(MarkupPlainText(label.HTMLText()))) {
  static const bool factoryInstalled = (QAccessible::installFactory(MarkupLabelAccessibleFactory), true);
  (void)factoryInstalled;
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setGeometry(label.Bounds.left, label.Bounds.top, label.Bounds.width, label.Bounds.height);
}

void MarkupLabelWidget::Refresh() {
  update();
  QString plain = ToQString(MarkupPlainText(label_.HTMLText()));
  if (plain == plain_) return;  // the controller sets every label on each state change
  plain_ = std::move(plain);
  QAccessibleEvent changed(this, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&changed);
}

void MarkupLabelWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QtFontMetrics metrics;
  const MarkupLayout layout = LayoutMarkup(label_.HTMLText(), label_.Style, {0, 0, width(), height()}, metrics);
  QtMarkupPainter markupPainter(painter);
  PaintMarkup(layout, markupPainter);
}

}  // namespace brek
