#pragma once
// The markup engine's font metrics and painter on Qt.
#include <QFont>
#include <QPainter>
#include <QWidget>

#include "ui/Controls.h"
#include "ui/Markup.h"

namespace brek {

QFont ToQFont(const FontSpec& desc);

class QtFontMetrics : public FontMetrics {
 public:
  TextSize Measure(const FontSpec& font, std::string_view text) const override;
};

class QtMarkupPainter : public MarkupPainter {
 public:
  explicit QtMarkupPainter(QPainter& painter) : painter_(painter) {}
  void DrawRun(const LaidOutRun& run) override;

 private:
  QPainter& painter_;
};

// A window-less markup label: paints its text on whatever its parent drew beneath it. A
// screen reader reads it as static text: its plain text, announced when it changes.
class MarkupLabelWidget : public QWidget {
 public:
  MarkupLabelWidget(THTMLabel& label, QWidget* parent);

  const QString& PlainText() const { return plain_; }
  // After the label's markup changed.
  void Refresh();

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  THTMLabel& label_;
  QString plain_;
};

}  // namespace brek
