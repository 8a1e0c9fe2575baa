#include <fmt/format.h>

#include "web/pages.hpp"
#include "web/web_text.hpp"

namespace shoplink {

namespace {

std::string share(std::int64_t part, std::int64_t whole) {
  return whole > 0 ? fmt::format("{}%", part * 100 / whole) : "-";
}

std::string average(const ProgramCycles& p) {
  return p.cycles > 0 ? duration_text(p.seconds / p.cycles) : "-";
}

std::string shift_name(const std::vector<int>& shifts, std::size_t i) {
  const int from = shifts[i], to = shifts[(i + 1) % shifts.size()];
  return fmt::format("{:02}:{:02}-{:02}:{:02}", from / 3600, from / 60 % 60, to / 3600,
                     to / 60 % 60);
}

}  // namespace

std::string activity_page(const ActivityDay& d, const std::string& today,
                          const std::string& unreadable, const StationSnapshot& s) {
  LocalTime day;
  parse_time(d.day, &day);
  const std::string before = day_text(day, -1), after = day_text(day, 1);
  std::string nav = fmt::format(
      R"(<form class="filter" method="get" action="/activity"><a href="/activity?day={}">&larr; {}</a>
<label>Day <input type="date" name="day" value="{}"></label><button type="submit">Show</button>)",
      before, before, d.day);
  if (d.day < today)
    nav += fmt::format(R"(<a href="/activity?day={}">{} &rarr;</a>)", after, after);
  nav += "</form>";

  std::string shift_heads;
  for (std::size_t i = 0; i < d.shifts.size(); ++i)
    shift_heads += "<th>Cycles " + shift_name(d.shifts, i) + "</th>";
  std::string rows;
  for (const MachineDay& m : d.machines) {
    const std::int64_t known = m.in_cycle + m.idle + m.down;
    std::string per_shift;
    for (int c : m.shift_cycles) per_shift += fmt::format(R"(<td class="n">{}</td>)", c);
    std::string programs;
    for (const ProgramCycles& p : m.programs)
      programs += fmt::format(
          "<li><span title=\"{}\">{}</span>: {} cycles, average {}</li>", html(p.program),
          p.program.empty() ? "(no program sent)" : html(file_name_of(p.program)), p.cycles,
          average(p));
    rows += fmt::format(
        R"(<tr><td class="n">{}</td><td>{}</td><td class="n">{}</td>{}<td class="n">{} ({})</td><td class="n">{}</td><td class="n">{}</td><td><ul>{}</ul></td></tr>
)",
        m.port, html(m.machine), m.cycles, per_shift, duration_text(m.in_cycle),
        share(m.in_cycle, known), duration_text(m.idle), duration_text(m.down), programs);
  }
  const std::string body = fmt::format(
      R"(<h1>Machine activity {}</h1>
{}{}
{}
<table class="activity-table"><thead><tr><th>Port</th><th>Machine</th><th>Cycles</th>{}<th>In cycle</th><th>Idle</th><th>Down</th><th>Average cycle per program</th></tr></thead>
<tbody>
{}</tbody></table>
<p class="note">From the machines' cycle start and finish events. Down: the station stopped, its host line lost or dead, or the machine stopped for a tool change. A cycle counts on the day it finishes, for the program last sent to the machine before it started.</p>)",
      d.day, nav,
      unreadable.empty() ? ""
                         : fmt::format(R"(<p class="note">The journal cannot be read now: {}</p>)",
                                       html(unreadable)),
      activity_svg(d), shift_heads, rows);
  return page("Activity " + d.day, "/activity", s.customer, body);
}

std::string activity_json(const ActivityDay& d) {
  std::string out =
      fmt::format(R"({{"day":{},"seconds_shown":{},"machines":[)", json(d.day), d.shown);
  for (std::size_t i = 0; i < d.machines.size(); ++i) {
    const MachineDay& m = d.machines[i];
    if (i) out += ',';
    std::string programs;
    for (std::size_t k = 0; k < m.programs.size(); ++k) {
      const ProgramCycles& p = m.programs[k];
      if (k) programs += ',';
      programs += fmt::format(R"({{"program":{},"cycles":{},"average_s":{}}})", json(p.program),
                              p.cycles, p.cycles ? p.seconds / p.cycles : 0);
    }
    // A machine that changed state every few seconds all day: its first spans only.
    constexpr std::size_t kMaxSpans = 2000;
    std::string spans;
    for (std::size_t k = 0; k < m.spans.size() && k < kMaxSpans; ++k) {
      const StateSpan& sp = m.spans[k];
      if (k) spans += ',';
      static constexpr const char* kNames[] = {"no data", "idle", "cycle", "down"};
      spans += fmt::format(R"({{"from_s":{},"to_s":{},"state":"{}"}})", sp.from, sp.to,
                           kNames[static_cast<int>(sp.state)]);
    }
    std::string shifts;
    for (std::size_t k = 0; k < m.shift_cycles.size(); ++k)
      shifts += (k ? "," : "") + std::to_string(m.shift_cycles[k]);
    out += fmt::format(
        R"({{"port":{},"machine":{},"cycles":{},"in_cycle_s":{},"idle_s":{},"down_s":{},"shift_cycles":[{}],"programs":[{}],"spans":[{}],"spans_complete":{}}})",
        m.port, json(m.machine), m.cycles, m.in_cycle, m.idle, m.down, shifts, programs, spans,
        m.spans.size() <= kMaxSpans ? "true" : "false");
  }
  return out + "]}";
}

}  // namespace shoplink
