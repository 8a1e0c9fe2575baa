#include "web/activity_chart.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <map>

#include "web/web_text.hpp"

namespace shoplink {

namespace {

constexpr std::int64_t kDay = 86400;

// One row of the journal on the machine's time line. At one second the station's own events
// come first, then a program sent, then the machine's.
struct Happening {
  std::string time;
  int order = 0;
  const EventRow* row = nullptr;
};

struct Tracker {
  bool known = false, station_up = true, line_ok = true, tool_stop = false;
  bool in_cycle = false;
  std::int64_t cycle_start = 0;
  std::string cycle_program, program;

  MachineState state() const {
    if (!known) return MachineState::NoData;
    if (!station_up || !line_ok || tool_stop) return MachineState::Down;
    return in_cycle ? MachineState::Cycle : MachineState::Idle;
  }
};

int shift_of(const std::vector<int>& shifts, std::int64_t second_of_day) {
  int idx = static_cast<int>(shifts.size()) - 1;  // before the first start: the night shift
  for (std::size_t i = 0; i < shifts.size(); ++i)
    if (shifts[i] <= second_of_day) idx = static_cast<int>(i);
  return idx;
}

const char* class_of(MachineState s) {
  switch (s) {
    case MachineState::Cycle:
      return "cycle";
    case MachineState::Idle:
      return "idle";
    case MachineState::Down:
      return "down";
    case MachineState::NoData:
      break;
  }
  return "nodata";
}

const char* words_of(MachineState s) {
  switch (s) {
    case MachineState::Cycle:
      return "in cycle";
    case MachineState::Idle:
      return "idle";
    case MachineState::Down:
      return "down";
    case MachineState::NoData:
      break;
  }
  return "no data";
}

std::string clock_text(std::int64_t second_of_day) {
  return fmt::format("{:02}:{:02}", second_of_day / 3600, second_of_day / 60 % 60);
}

MachineDay machine_day(int port, const std::string& name, const ActivityRows& rows,
                       std::int64_t day_start, std::int64_t shown, const std::vector<int>& shifts) {
  MachineDay m;
  m.port = port;
  m.machine = name;
  m.shift_cycles.assign(shifts.size(), 0);
  std::vector<Happening> line;
  for (const EventRow& r : rows.station) line.push_back({r.time, 0, &r});
  for (const EventRow& r : rows.programs)
    if (r.port == port) line.push_back({r.time, 1, &r});
  for (const EventRow& r : rows.machines)
    if (r.port == port) line.push_back({r.time, 2, &r});
  std::stable_sort(line.begin(), line.end(), [](const Happening& a, const Happening& b) {
    return a.time != b.time ? a.time < b.time : a.order < b.order;
  });

  Tracker t;
  std::map<std::string, ProgramCycles> programs;
  std::int64_t at = 0;  // where the span being built begins
  auto close_span = [&](std::int64_t until) {
    until = std::min(until, shown);
    if (until <= at) return;
    const MachineState s = t.state();
    if (!m.spans.empty() && m.spans.back().state == s && m.spans.back().to == at) {
      m.spans.back().to = until;
    } else {
      m.spans.push_back({at, until, s});
    }
    const std::int64_t length = until - at;
    if (s == MachineState::Cycle) m.in_cycle += length;
    if (s == MachineState::Idle) m.idle += length;
    if (s == MachineState::Down) m.down += length;
    at = until;
  };

  for (const Happening& h : line) {
    LocalTime when;
    if (!parse_time(h.time, &when)) continue;
    const std::int64_t sec = seconds_of(when) - day_start;
    if (sec >= shown) break;
    if (sec > at) close_span(sec);
    if (m.machine.empty() && !h.row->machine.empty()) m.machine = h.row->machine;
    const std::string& kind = h.row->kind;
    t.known = true;
    if (h.order == 0) {
      if (kind == "started") {
        t.station_up = t.line_ok = true;
      } else if (kind == "stopping") {
        t.station_up = false;
        t.in_cycle = t.tool_stop = false;
      } else if (kind == "line lost" || kind == "line dead") {
        t.line_ok = false;
      } else if (kind == "line opened" || kind == "line reconnected" || kind == "line back") {
        t.line_ok = true;
      }
    } else if (h.order == 1) {
      t.program = h.row->text;
    } else if (kind == "cycle start") {
      t.in_cycle = true;
      t.cycle_start = sec;
      t.cycle_program = t.program;
    } else if (kind == "cycle finish") {
      if (t.in_cycle && sec >= 0) {
        ++m.cycles;
        ProgramCycles& p = programs[t.cycle_program];
        p.program = t.cycle_program;
        ++p.cycles;
        p.seconds += sec - t.cycle_start;
        if (!shifts.empty()) ++m.shift_cycles[static_cast<std::size_t>(shift_of(shifts, sec))];
      }
      t.in_cycle = false;
    } else if (kind == "tool change stop") {
      t.tool_stop = true;
    } else if (kind == "tool change resume") {
      t.tool_stop = false;
    }
  }
  close_span(shown);
  // Before the window's first moment nothing is drawn.
  std::erase_if(m.spans, [](const StateSpan& s) { return s.to <= 0; });
  if (!m.spans.empty() && m.spans.front().from < 0) m.spans.front().from = 0;
  for (auto& [_, p] : programs) m.programs.push_back(p);
  std::stable_sort(
      m.programs.begin(), m.programs.end(),
      [](const ProgramCycles& a, const ProgramCycles& b) { return a.cycles > b.cycles; });
  return m;
}

}  // namespace

ActivityDay activity_day(const std::string& day, const ActivityRows& rows, std::int64_t shown,
                         const std::vector<int>& shifts,
                         const std::array<std::string, NumPorts>& names) {
  ActivityDay d;
  d.day = day;
  d.shown = std::clamp<std::int64_t>(shown, 0, kDay);
  d.shifts = shifts;
  LocalTime start;
  if (!parse_time(day, &start)) return d;
  const std::int64_t day_start = seconds_of(start);
  for (int p = 1; p <= NumPorts; ++p) {
    const auto i = static_cast<std::size_t>(p - 1);
    d.machines[i] = machine_day(p, names[i], rows, day_start, d.shown, shifts);
  }
  return d;
}

std::string activity_svg(const ActivityDay& d) {
  constexpr int kLabel = 170, kWidth = 800, kRow = 30, kBar = 20, kTop = 24;
  const int height = kTop + NumPorts * kRow + 34;
  const double scale = static_cast<double>(kWidth) / kDay;
  std::string svg = fmt::format(
      R"(<svg class="activity" xmlns="http://www.w3.org/2000/svg" viewBox="0 0 {} {}" role="img" aria-label="Machine activity on {}">)",
      kLabel + kWidth + 10, height, d.day);
  // The hours, and the shifts' starts.
  for (int h = 0; h <= 24; ++h) {
    const int x = kLabel + h * kWidth / 24;
    svg += fmt::format(R"(<line class="hour" x1="{}" y1="{}" x2="{}" y2="{}"/>)", x, kTop - 4, x,
                       kTop + NumPorts * kRow);
    if (h % 2 == 0)
      svg += fmt::format(R"(<text class="hour" x="{}" y="{}">{:02}</text>)", x, kTop - 8, h);
  }
  for (int s : d.shifts) {
    const int x = kLabel + static_cast<int>(s * scale);
    svg += fmt::format(R"(<line class="shift" x1="{}" y1="{}" x2="{}" y2="{}"/>)", x, kTop - 4, x,
                       kTop + NumPorts * kRow);
  }
  for (std::size_t i = 0; i < d.machines.size(); ++i) {
    const MachineDay& m = d.machines[i];
    const int y = kTop + static_cast<int>(i) * kRow + (kRow - kBar) / 2;
    svg += fmt::format(R"(<text class="machine" x="0" y="{}">{} {}</text>)", y + kBar - 5, m.port,
                       html(m.machine));
    svg += fmt::format(R"(<rect class="lane" x="{}" y="{}" width="{}" height="{}"/>)", kLabel, y,
                       kWidth, kBar);
    // Each pixel column shows the state that held most of its time.
    std::vector<std::array<double, 4>> column(kWidth, std::array<double, 4>{});
    for (const StateSpan& s : m.spans) {
      double from = s.from * scale, to = s.to * scale;
      while (from < to) {
        const int px = std::min(static_cast<int>(from), kWidth - 1);
        const double edge = std::min<double>(px + 1, to);
        column[static_cast<std::size_t>(px)][static_cast<std::size_t>(s.state)] += edge - from;
        from = edge;
        if (px == kWidth - 1) break;
      }
    }
    auto dominant = [&](int px) {
      const auto& c = column[static_cast<std::size_t>(px)];
      int best = 0;
      for (int k = 1; k < 4; ++k)
        if (c[static_cast<std::size_t>(k)] > c[static_cast<std::size_t>(best)]) best = k;
      return c[static_cast<std::size_t>(best)] > 0 ? static_cast<MachineState>(best)
                                                   : MachineState::NoData;
    };
    for (int px = 0; px < kWidth;) {
      const MachineState s = dominant(px);
      int end = px + 1;
      while (end < kWidth && dominant(end) == s) ++end;
      if (s != MachineState::NoData) {
        const auto from = static_cast<std::int64_t>(px / scale);
        const auto to = std::min<std::int64_t>(static_cast<std::int64_t>(end / scale), kDay);
        svg += fmt::format(
            R"(<rect class="{}" x="{}" y="{}" width="{}" height="{}"><title>{} {}-{}</title></rect>)",
            class_of(s), kLabel + px, y, end - px, kBar, words_of(s), clock_text(from),
            to >= kDay ? "24:00" : clock_text(to));
      }
      px = end;
    }
  }
  // The legend.
  const int ly = kTop + NumPorts * kRow + 18;
  int lx = kLabel;
  for (MachineState s : {MachineState::Cycle, MachineState::Idle, MachineState::Down}) {
    svg += fmt::format(R"(<rect class="{}" x="{}" y="{}" width="14" height="12"/>)", class_of(s),
                       lx, ly - 10);
    svg += fmt::format(R"(<text class="legend" x="{}" y="{}">{}</text>)", lx + 20, ly, words_of(s));
    lx += 120;
  }
  return svg + "</svg>";
}

}  // namespace shoplink
