#include "gui/port_tiles.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QSizePolicy>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <string_view>

#include "base/text.hpp"

namespace shoplink {

namespace {

QString latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The program's file name: the tile is narrow, the tooltip has the whole path.
QString file_part(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  return latin1(cut == std::string::npos ? std::string_view(path)
                                         : std::string_view(path).substr(cut + 1));
}

QString amount(double characters) {
  const auto n = std::llround(characters);
  return n < 10000 ? QString("%1 characters").arg(n) : QString("%1 kB").arg(n / 1000);
}

const char* lamp_style(PortActivity a) {
  switch (a) {
    case PortActivity::Idle:
      return "background: #d8d8d8; color: #404040;";
    case PortActivity::Command:
      return "background: #80d0ff; color: black;";
    case PortActivity::WaitingXon:
      return "background: #f0e060; color: black;";
    case PortActivity::Sending:
      return "background: #20c020; color: black;";
    case PortActivity::Receiving:
      return "background: #3070f0; color: white;";
    case PortActivity::Held:
      return "background: #f09000; color: black; font-weight: bold;";
    case PortActivity::Failed:
      return "background: #e00000; color: white; font-weight: bold;";
  }
  return "";
}

// Labels clip rather than widen the window: the tooltip holds what does not fit.
QLabel* clipped_label() {
  auto* l = new QLabel;
  l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  l->setTextFormat(Qt::PlainText);
  return l;
}

}  // namespace

// The station's own words for a port's state; a lamp has room for "failed" only.
const char* lamp_word(PortActivity a) {
  return a == PortActivity::Failed ? "failed" : name_of(a);
}

TileView tile_view(const PortSnapshot& p) {
  TileView v;
  v.title = QString("%1  %2").arg(p.number).arg(latin1(p.machine));
  v.activity = p.activity;
  const bool busy = p.activity == PortActivity::Command || p.activity == PortActivity::WaitingXon ||
                    p.activity == PortActivity::Sending || p.activity == PortActivity::Receiving ||
                    p.activity == PortActivity::Held;
  if (busy && !p.program.empty()) {
    v.program = file_part(p.program);
    v.bar = true;
    if (p.total > 0) {
      v.percent = std::clamp(static_cast<int>(p.done * 100 / p.total), 0, 100);
      v.bar_text = QString("%1%").arg(v.percent);
    } else {
      // An upload's size is known only at its end: what is stored so far.
      v.bar_text = amount(p.done);
    }
  }
  if (p.last) {
    v.last = latin1(time_text(p.last->ended)) + "\n" + name_of(p.last->result);
    v.last_tip =
        latin1(p.last->program) + "\n" + name_of(p.last->kind) + ", " + amount(p.last->characters);
    if (!p.last->reason.empty()) v.last_tip += "\n" + latin1(p.last->reason);
  }
  return v;
}

PortTile::PortTile(int port, std::function<void(int)>* on_click)
    : port_(port), on_click_(on_click) {
  setObjectName(QString("port_tile_%1").arg(port));
  setFrameShape(QFrame::StyledPanel);
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::PointingHandCursor);
  auto* l = new QVBoxLayout(this);
  l->setContentsMargins(4, 3, 4, 3);
  l->setSpacing(2);
  title_ = clipped_label();
  QFont bold = title_->font();
  bold.setBold(true);
  title_->setFont(bold);
  lamp_ = clipped_label();
  lamp_->setObjectName("lamp");
  lamp_->setAlignment(Qt::AlignCenter);
  program_ = clipped_label();
  bar_ = new QProgressBar;
  bar_->setRange(0, 100);
  bar_->setTextVisible(true);
  bar_->setMaximumHeight(16);
  bar_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  // The bar keeps its room while hidden: tiles do not jump as transfers come and go.
  QSizePolicy keep = bar_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  bar_->setSizePolicy(keep);
  last_ = clipped_label();
  for (QWidget* w : std::initializer_list<QWidget*>{title_, lamp_, program_, bar_, last_}) {
    w->setFocusPolicy(Qt::NoFocus);
    l->addWidget(w);
  }
  show_view(TileView{});
}

void PortTile::show_view(const TileView& v) {
  if (shown_ && v == view_) return;
  const bool first = !shown_;
  shown_ = true;
  if (first || v.title != view_.title) {
    title_->setText(v.title);
    // A long name is clipped on the tile: the tooltip has it whole.
    setToolTip(QString("%1: click to select the port (as typing %2 and Enter)")
                   .arg(v.title.simplified())
                   .arg(port_));
  }
  if (first || v.activity != view_.activity) {
    lamp_->setText(lamp_word(v.activity));
    lamp_->setStyleSheet(lamp_style(v.activity));
    lamp_->setToolTip(name_of(v.activity));
  }
  if (first || v.program != view_.program) program_->setText(v.program);
  if (first || v.bar != view_.bar) bar_->setVisible(v.bar);
  if (first || v.percent != view_.percent) bar_->setValue(v.percent);
  if (first || v.bar_text != view_.bar_text) bar_->setFormat(v.bar_text);
  if (first || v.last != view_.last) last_->setText(v.last);
  if (first || v.last_tip != view_.last_tip) last_->setToolTip(v.last_tip);
  view_ = v;
}

void PortTile::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && on_click_ && *on_click_) (*on_click_)(port_);
  e->accept();
}

PortTiles::PortTiles(QWidget* parent) : QWidget(parent) {
  setObjectName("port_tiles");
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(4);
  for (int n = 1; n <= NumPorts; ++n) {
    auto* t = new PortTile(n, &on_click);
    tiles_[static_cast<std::size_t>(n - 1)] = t;
    row->addWidget(t, 1);
  }
}

void PortTiles::show_snapshot(const StationSnapshot& snap) {
  for (const PortSnapshot& p : snap.ports)
    if (p.number >= 1 && p.number <= NumPorts) tile(p.number)->show_view(tile_view(p));
}

}  // namespace shoplink
