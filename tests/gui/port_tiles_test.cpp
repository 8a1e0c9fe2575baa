// The port tiles under the text areas: the whole station on virtual time drives the real
// window, and each tile follows its port through a request and an upload; a click on a tile
// selects its port as typing its number and Enter does.
#include "gui/port_tiles.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <memory>

#include "gui/qt_window.hpp"
#include "gui/window_commands.hpp"
#include "station/startup.hpp"
#include "station/wired_station.hpp"
#include "support/station_fixture.hpp"
#include "support/temp_dir.hpp"
#include "ui/recorder.hpp"

namespace shoplink {
namespace {

struct TiledWindow {
  testing::TempDir dir;
  VirtualClock clock;
  VirtualLoop loop{clock};
  HostPaths paths{dir.path()};
  sim::Shop shop{loop};
  QtWindow w;
  RecordingDialogs dialogs;
  RecordingPlatform platform;
  std::unique_ptr<WiredStation> s;
  std::unique_ptr<PortTilesFeed> feed;

  TiledWindow() {
    dir.write("DNCDATA", testing::default_dncdata());
    s = std::make_unique<WiredStation>(
        StationServices{loop, shop.line(), w, dialogs, platform, paths});
    connect_window(w, *s);
    feed = std::make_unique<PortTilesFeed>(w, *s);
    w.resize(1100, 700);
    w.show();
    startup(*s);
    EXPECT_TRUE(loop.run_until([&] { return scanning(); }, millis(10000)));
    QApplication::processEvents();
  }
  bool scanning() const {
    return s->mode == Mode::Scanning && s->stopscanning == 0 && !s->Timer1.enabled() &&
           !s->Timer9.enabled();
  }
  PortTile* tile(int port) const { return w.port_tiles()->tile(port); }
  void after(std::int64_t ms, std::function<void()> action) {
    shop.at(loop.now() - shop.start() + millis(ms), std::move(action));
  }
};

std::string program_of(std::size_t size) {
  std::string p = "%\r\nO1234\r\n";
  for (int i = 0; p.size() < size; ++i) p += "N" + std::to_string(i) + " G1 X1. Y2.\r\n";
  return p + "M30\r\n%\r\n";
}

// A command typed slowly at the control, over more than one round of the scan, so that it is
// seen coming in.
void type_command(TiledWindow& t, sim::Machine& m, const std::string& command) {
  m.send_text(command.substr(0, 2));
  t.after(1000, [&m, rest = command.substr(2)] { m.send_command(rest); });
}

// What one tile showed, snapshot by snapshot.
struct Seen {
  QString lamp, program, bar_text, last;
  bool bar = false;
  int percent = 0;
};

TEST(PortTiles, FollowTheirPortThroughARequestAndAnUpload) {
  struct Case {
    const char* name;
    int port;
    std::function<void(TiledWindow&, sim::Machine&)> start;
    std::vector<const char*> lamps;  // in this order, repeats dropped (others may come between)
    const char* program;             // shown while the transfer runs
    bool percent;                    // a send's bar counts up to its end
    const char* last;                // the last transfer's result afterwards
  };
  const Case cases[] = {
      {"a request held by the machine's Xoff",
       3,
       [](TiledWindow& t, sim::Machine& m) {
         t.dir.write("O1234", program_of(6000));
         sim::MachineConfig c = m.config();
         c.xoff_at = 400;
         c.xon_at = 100;
         c.consume_cps = 500;
         c.xon_after_command = millis(1500);
         m.configure(c);
         type_command(t, m, "TO1234");
       },
       {"idle", "command", "waiting for Xon", "sending", "held", "sending", "idle"},
       "O1234",
       true,
       "transmitted"},
      {"an upload",
       6,
       [](TiledWindow& t, sim::Machine& m) {
         t.dir.write("O5001", "OLD\r\n");
         type_command(t, m, "RO5001");
         t.after(3500, [&m] { m.upload(program_of(4000)); });
       },
       {"idle", "command", "receiving", "idle"},
       "O5001",
       false,
       "received"},
      {"a request for a missing program",
       5,
       [](TiledWindow& t, sim::Machine& m) {
         sim::MachineConfig c = m.config();
         c.xon_after_command = millis(1500);
         m.configure(c);
         type_command(t, m, "TO9999");
       },
       {"idle", "command", "failed"},
       nullptr,
       false,
       "not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TiledWindow t;
    std::vector<Seen> seen;
    std::vector<TimePoint> published;
    bool others_idle = true;
    t.feed->publisher().on_publish([&](const std::shared_ptr<const StationSnapshot>&) {
      published.push_back(t.loop.now());
      PortTile* tile = t.tile(c.port);
      seen.push_back({tile->lamp()->text(), tile->view().program, tile->bar()->format(),
                      tile->view().last, tile->view().bar, tile->bar()->value()});
      for (int n = 1; n <= NumPorts; ++n)
        if (n != c.port && t.tile(n)->lamp()->text() != "idle") others_idle = false;
    });
    sim::Machine& m = t.shop.machine(c.port);
    c.start(t, m);
    // Until the tile has a last transfer and the station scans again.
    ASSERT_TRUE(t.loop.run_until(
        [&] { return !t.tile(c.port)->view().last.isEmpty() && t.scanning(); }, millis(60000)));
    t.loop.advance_ms(500);

    std::vector<QString> lamps;
    for (const Seen& s : seen)
      if (lamps.empty() || lamps.back() != s.lamp) lamps.push_back(s.lamp);
    auto at = lamps.begin();
    for (const char* want : c.lamps) {
      at = std::find(at, lamps.end(), QString(want));
      ASSERT_NE(at, lamps.end())
          << want << " missing or out of order in "
          << QStringList(lamps.begin(), lamps.end()).join(", ").toStdString();
    }
    EXPECT_TRUE(others_idle);

    int most = -1;
    bool program_shown = false;
    for (const Seen& s : seen) {
      if (s.lamp != "sending" && s.lamp != "receiving" && s.lamp != "held") continue;
      program_shown = program_shown || (c.program && s.program == c.program && s.bar);
      if (!c.percent) continue;
      EXPECT_GE(s.percent, most) << "the bar went back";
      most = std::max(most, s.percent);
      EXPECT_EQ(s.bar_text, QString("%1%").arg(s.percent));
    }
    EXPECT_EQ(program_shown, c.program != nullptr);
    if (c.percent) {
      EXPECT_GE(most, 90);
    }

    const Seen& end = seen.back();
    EXPECT_FALSE(end.bar);
    EXPECT_TRUE(QRegularExpression(QString("^\\d\\d:\\d\\d:\\d\\d\\n%1$").arg(c.last))
                    .match(end.last)
                    .hasMatch())
        << end.last.toStdString();
    // The tiles follow the station at most every 40 ms.
    for (std::size_t i = 1; i < published.size(); ++i)
      EXPECT_GE(published[i] - published[i - 1], QtWindow::kTileRefresh);
  }
}

// A click on a tile is the port's number and Enter typed: a selection while scanning (what
// was half typed gives way), nothing in terminal mode; in the Enter Password state the tiles
// are hidden with the text areas, and nothing a click could do selects a port there.
TEST(PortTiles, AClickSelectsThePortAsTypingItsNumberDoes) {
  struct Case {
    const char* name;
    std::function<void(TiledWindow&)> enter;
    bool selects, tiles_shown;
  };
  const Case cases[] = {
      {"scanning", [](TiledWindow&) {}, true, true},
      {"a number half typed", [](TiledWindow& t) { key_press(*t.s, '1'); }, true, true},
      {"terminal mode", [](TiledWindow& t) { t.w.action(Menu::mode_terminal)->trigger(); }, false,
       true},
      {"Enter Password", [](TiledWindow& t) { t.w.action(Menu::conf_password)->trigger(); }, false,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TiledWindow t;
    c.enter(t);
    const int before = t.s->port;
    QTest::mouseClick(t.tile(5), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(t.tile(5)->isVisible(), c.tiles_shown);
    if (c.selects) {
      EXPECT_EQ(t.s->port, 5);
      EXPECT_EQ(t.s->stopscanning, 1);
      EXPECT_EQ(t.w.port_field()->text(), "5");
    } else {
      EXPECT_EQ(t.s->port, before);
    }
    EXPECT_EQ(t.s->MACHSELECT, "");
  }
}

// The tiles show the names DNCDATA gives the machines.
TEST(PortTiles, ShowEachPortsMachine) {
  TiledWindow t;
  for (int n = 1; n <= NumPorts; ++n)
    EXPECT_EQ(t.tile(n)->view().title, QString("%1  MILL%1").arg(n));
}

}  // namespace
}  // namespace shoplink
