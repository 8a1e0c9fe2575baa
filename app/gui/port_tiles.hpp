#pragma once
// The eight machines at a glance: a strip of tiles under the text areas, one per port, with
// the machine's name, a lamp for what the port is doing, the program and its progress while
// a transfer runs, and the time and result of the last transfer. Drawn from the station's
// snapshot; a click on a tile selects its port.
#include <QFrame>
#include <QString>
#include <array>
#include <functional>

#include "core/station_snapshot.hpp"

class QLabel;
class QProgressBar;

namespace shoplink {

// What one tile shows. The widgets are touched only where this changed, so a snapshot that
// changes one port repaints one tile, and a transfer's bar moves a percent at a time.
struct TileView {
  QString title;  // "3  MAZAK QT15"
  PortActivity activity = PortActivity::Idle;
  QString program;  // the file of the transfer under way, empty when none
  bool bar = false;
  int percent = 0;         // of a send, whose size is known
  QString bar_text;        // "42%", or what an upload has stored so far
  QString last, last_tip;  // "14:02:11", "transmitted" on a line each; its program and reason
  bool operator==(const TileView&) const = default;
};
TileView tile_view(const PortSnapshot& p);
// The lamp's word and colours for a port's activity.
const char* lamp_word(PortActivity a);

class PortTile final : public QFrame {
 public:
  PortTile(int port, std::function<void(int)>* on_click);
  void show_view(const TileView& v);
  const TileView& view() const { return view_; }
  QLabel* lamp() const { return lamp_; }
  QProgressBar* bar() const { return bar_; }

 protected:
  void mousePressEvent(QMouseEvent* e) override;

 private:
  int port_;
  std::function<void(int)>* on_click_;
  TileView view_;
  bool shown_ = false;
  QLabel *title_, *lamp_, *program_, *last_;
  QProgressBar* bar_;
};

class PortTiles final : public QWidget {
 public:
  explicit PortTiles(QWidget* parent = nullptr);
  void show_snapshot(const StationSnapshot& snap);
  // The port number of the tile clicked.
  std::function<void(int)> on_click;
  PortTile* tile(int port) const { return tiles_.at(static_cast<std::size_t>(port - 1)); }

 private:
  std::array<PortTile*, NumPorts> tiles_{};
};

}  // namespace shoplink
