#include "view/qt/qt_dialog_view.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <cmath>
#include <functional>

#include "view/qt/qt_application.h"

namespace parvo {
namespace {

int pixels(std::int32_t twips) {
  return twips / kTwipsPerPixel;
}

// Half a pixel or more of a position rounds away from zero.
int pixels(float twips) {
  return static_cast<int>(std::lround(twips / static_cast<float>(kTwipsPerPixel)));
}

std::int32_t twips(int pixels) {
  return pixels * kTwipsPerPixel;
}

QString text(const std::wstring& value) {
  return QString::fromStdWString(value);
}

// Buttons would take an '&' as the mark of an access key; captions have none.
QString withoutAccessKeys(const std::wstring& caption) {
  return text(caption).replace(QLatin1Char('&'), QLatin1String("&&"));
}

QColor colour(Colour value) {
  return QColor(value.red, value.green, value.blue);
}

QString objectName(const ControlLayout& control) {
  QString name = text(control.name);
  if (control.index) name += QStringLiteral("(%1)").arg(*control.index);
  return name;
}

QFont font(const FontSpec& spec) {
  QFont result(text(spec.family));
  result.setPointSize(spec.points);
  result.setItalic(spec.italic);
  result.setWeight(static_cast<QFont::Weight>(spec.weight));
  result.setUnderline(spec.underline);
  result.setStrikeOut(spec.strikeOut);
  return result;
}

}  // namespace

void installFontSubstitutes() {
  QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"),
                             {QStringLiteral("IPAPGothic"), QStringLiteral("VL PGothic"),
                              QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAGothic")});
}

class QtDialogView::Window : public QWidget {
 public:
  std::function<void()> closed;

 protected:
  void closeEvent(QCloseEvent* event) override {
    QWidget::closeEvent(event);
    if (closed) closed();
  }
};

QtDialogView::QtDialogView(const FormLayout& layout) : window_(std::make_unique<Window>()) {
  window_->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  window_->setWindowTitle(text(layout.caption));
  window_->setFixedSize(pixels(layout.clientWidth), pixels(layout.clientHeight));
  window_->closed = [this] { closed_ = true; };
  for (const ControlLayout& control : layout.controls) addControl(control);
  for (const ControlLayout* control : focusOrder(layout)) {
    QWidget* widget = window_->findChild<QWidget*>(objectName(*control));
    if (!focusChain_.empty()) QWidget::setTabOrder(focusChain_.back(), widget);
    focusChain_.push_back(widget);
  }
}

QtDialogView::~QtDialogView() {
  if (displayLost()) abandon(window_.release());
}

void QtDialogView::addControl(const ControlLayout& control) {
  QWidget* widget = nullptr;
  switch (control.kind) {
    case ControlKind::kFilledRectangle:
      widget = new QWidget(window_.get());
      break;
    case ControlKind::kLabel: {
      auto* label = new QLabel(text(control.caption), window_.get());
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      widget = label;
      break;
    }
    case ControlKind::kPushButton: {
      auto* button = new QPushButton(withoutAccessKeys(control.caption), window_.get());
      button->setAutoDefault(false);
      QObject::connect(button, &QPushButton::clicked, [this] {
        if (events_ != nullptr) events_->commandClicked();
      });
      widget = button;
      break;
    }
    case ControlKind::kOptionButton: {
      auto* option = new QRadioButton(withoutAccessKeys(control.caption), window_.get());
      option->setChecked(control.selected);
      const auto index = static_cast<std::size_t>(control.index.value_or(0));
      if (options_.size() <= index) options_.resize(index + 1);
      options_[index] = option;
      widget = option;
      break;
    }
  }
  widget->setObjectName(objectName(control));
  widget->setGeometry(pixels(control.bounds.left), pixels(control.bounds.top),
                      pixels(control.bounds.width), pixels(control.bounds.height));
  QPalette palette = widget->palette();
  if (control.fillColour) {
    palette.setColor(widget->backgroundRole(), colour(*control.fillColour));
    widget->setAutoFillBackground(true);
  }
  if (control.textColour) {
    palette.setColor(QPalette::WindowText, colour(*control.textColour));
    palette.setColor(QPalette::ButtonText, colour(*control.textColour));
  }
  widget->setPalette(palette);
  if (control.font) widget->setFont(font(*control.font));
}

QWidget* QtDialogView::window() const {
  return window_.get();
}

TwipSize QtDialogView::screenSize() {
  const QScreen* screen = window_->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  const QSize size = screen != nullptr ? screen->geometry().size() : QSize();
  return {twips(size.width()), twips(size.height())};
}

TwipSize QtDialogView::windowSize() {
  // Before the window is first shown the frame is not known yet: this is the client area.
  const QSize size = window_->frameGeometry().size();
  return {twips(size.width()), twips(size.height())};
}

void QtDialogView::setLeft(float twips) {
  window_->move(pixels(twips), window_->pos().y());
}

void QtDialogView::setTop(float twips) {
  window_->move(window_->pos().x(), pixels(twips));
}

void QtDialogView::selectOption(int index) {
  options_.at(static_cast<std::size_t>(index))->setChecked(true);
}

bool QtDialogView::optionSelected(int index) {
  return options_.at(static_cast<std::size_t>(index))->isChecked();
}

void QtDialogView::show() {
  window_->show();
  if (!focusChain_.empty()) focusChain_.front()->setFocus();
}

void QtDialogView::run(DialogEvents& events) {
  if (!window_->isVisible()) return;
  events_ = &events;
  closed_ = false;
  // A lost display ends the dialog as its close box does, without the OK step.
  serviceEventsUntil([this] { return closed_; });
  events_ = nullptr;
}

void QtDialogView::close() {
  window_->close();
}

}  // namespace parvo
