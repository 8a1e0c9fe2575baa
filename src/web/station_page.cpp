#include <fmt/format.h>

#include "journal/journal_file.hpp"
#include "web/pages.hpp"
#include "web/status_json.hpp"
#include "web/web_text.hpp"

namespace shoplink {

namespace {

// As the page's script writes it (live.js), so that a tile reads the same before and after
// the first live update.
std::string count_text(const PortSnapshot& p) {
  if (p.program.empty()) return "";
  if (p.total <= 0) return grouped(static_cast<std::int64_t>(p.done)) + " characters";
  const auto pct = std::min<std::int64_t>(100, static_cast<std::int64_t>(p.done * 100 / p.total));
  return fmt::format("{} of {} characters ({}%)", grouped(static_cast<std::int64_t>(p.done)),
                     grouped(static_cast<std::int64_t>(p.total)), pct);
}

std::string clock_of(const LocalTime& t) {
  return journal_time(t).substr(11);
}

}  // namespace

std::string tile_html(const PortSnapshot& p) {
  const bool busy = !p.program.empty();
  std::string last =
      R"(<p class="last" hidden>Last: <span class="last-name"></span> <span class="last-result"></span> <span class="last-time"></span></p>)";
  if (p.last) {
    const LastTransfer& l = *p.last;
    std::string result = name_of(l.result);
    if (!l.reason.empty()) result += " (" + l.reason + ")";
    last = fmt::format(
        R"(<p class="last">Last: <span class="last-name" title="{}">{}</span> <span class="last-result{}">{}</span> <span class="last-time">{}</span></p>)",
        html(l.program), html(file_name_of(l.program)), failed_result(l.result) ? " failed" : "",
        html(result), clock_of(l.ended));
  }
  const double max = p.total > 0 ? p.total : 1;
  return fmt::format(
      R"(<article class="tile state-{}" id="port-{}" data-port="{}">
<h2><span class="num">{}</span> <span class="machine">{}</span></h2>
<p class="state">{}</p>
<p class="program"><span class="name" title="{}">{}</span> <span class="count">{}</span></p>
<progress max="{}" value="{}"{}></progress>
{}
</article>
)",
      state_class(p.activity), p.number, p.number, p.number, html(p.machine),
      html(name_of(p.activity)), busy ? html(p.program) : "",
      busy ? html(file_name_of(p.program)) : "", count_text(p), static_cast<std::int64_t>(max),
      static_cast<std::int64_t>(std::min(p.done, max)), busy && p.total > 0 ? "" : " hidden", last);
}

std::string station_page(const StationSnapshot& s, const std::vector<std::string>& log) {
  std::string tiles;
  for (const PortSnapshot& p : s.ports) tiles += tile_html(p);
  std::string log_text;
  for (const auto& l : log) log_text += html(l) + "\n";
  if (!log_text.empty()) log_text.pop_back();
  const std::string body = fmt::format(
      R"(<section class="station" id="station">
<div><span class="label">Customer</span><span id="customer">{}</span></div>
<div><span class="label">Host line</span><span id="host-line">{}</span> <span id="line-state" class="{}">{}</span></div>
<div><span class="label">Up</span><span id="uptime">{}</span> <span class="note">since {}</span></div>
<div><span class="label">Status</span><span id="status">{}</span></div>
</section>
<section class="tiles" id="tiles">
{}</section>
<section class="log"><h2>System log</h2><pre id="log">{}</pre></section>
<script src="/static/live.js"></script>)",
      s.customer.empty() ? "-" : html(s.customer),
      html(s.host_line + (s.device.empty() ? "" : " (" + s.device + ")")),
      s.line_state == "open" ? "line-open" : "line-bad", html(s.line_state),
      duration_text(std::max<std::int64_t>(0, seconds_of(s.taken) - seconds_of(s.started))),
      journal_time(s.started), html(s.status), tiles, log_text);
  return page("Station", "/", s.customer, body);
}

std::string log_json(const std::vector<std::string>& log) {
  std::string out = "[";
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (i) out += ',';
    out += json(log[i]);
  }
  return out + "]";
}

}  // namespace shoplink
