#include <fmt/format.h>

#include "web/pages.hpp"
#include "web/web_text.hpp"

namespace shoplink {

namespace {

bool failed(const TransferRow& r) {
  return r.result != "transmitted" && r.result != "received";
}

// The filter form of a journal page: port, day, and what else `extra` adds.
std::string filter_form(const char* action, int port, const std::string& day,
                        const StationSnapshot& s, const std::string& extra) {
  std::string options = R"(<option value="">all</option>)";
  for (const PortSnapshot& p : s.ports)
    options += fmt::format(R"(<option value="{}"{}>{} {}</option>)", p.number,
                           p.number == port ? " selected" : "", p.number, html(p.machine));
  return fmt::format(
      R"(<form class="filter" method="get" action="{}">
<label>Port <select name="port">{}</select></label>
<label>Day <input type="date" name="day" value="{}"></label>{}
<button type="submit">Show</button></form>)",
      action, options, html(day), extra);
}

std::string unreadable_note(const std::string& unreadable) {
  return unreadable.empty()
             ? ""
             : fmt::format(R"(<p class="note">The journal cannot be read now: {}</p>)",
                           html(unreadable));
}

std::string shown_note(std::size_t rows, int limit) {
  if (rows < static_cast<std::size_t>(limit)) return "";
  return fmt::format(
      R"(<p class="note">The newest {} are shown; choose a port or a day for others.</p>)", limit);
}

}  // namespace

std::string transfers_page(const TransferQuery& q, const std::vector<TransferRow>& rows,
                           const std::string& unreadable, const StationSnapshot& s) {
  std::string table;
  for (const TransferRow& r : rows) {
    const std::string ended =
        r.ended.substr(0, 10) == r.started.substr(0, 10) && r.ended.size() > 11 ? r.ended.substr(11)
                                                                                : r.ended;
    std::string result = r.result;
    if (!r.reason.empty()) result += " (" + r.reason + ")";
    table += fmt::format(
        R"(<tr{}><td>{}</td><td>{}</td><td class="n">{}</td><td>{}</td><td>{}</td><td title="{}">{}</td><td class="n">{}</td><td{}>{}</td></tr>
)",
        failed(r) ? R"( class="failed")" : "", html(r.started), html(ended), r.port,
        html(r.machine), html(r.kind), html(r.program), html(file_name_of(r.program)),
        grouped(r.characters), failed(r) ? R"( class="bad")" : "", html(result));
  }
  const std::string extra = fmt::format(
      R"(
<label><input type="checkbox" name="failed" value="1"{}> failed only</label>)",
      q.failed_only ? " checked" : "");
  const std::string body = fmt::format(
      R"(<h1>Transfers</h1>
{}{}
<table class="transfers"><thead><tr><th>Started</th><th>Ended</th><th>Port</th><th>Machine</th><th>Kind</th><th>Program</th><th>Characters</th><th>Result</th></tr></thead>
<tbody>
{}</tbody></table>
{}{})",
      filter_form("/transfers", q.port, q.day, s, extra), unreadable_note(unreadable), table,
      rows.empty() && unreadable.empty() ? R"(<p class="note">No transfers.</p>)" : "",
      shown_note(rows.size(), q.limit));
  return page("Transfers", "/transfers", s.customer, body);
}

std::string transfers_json(const std::vector<TransferRow>& rows) {
  std::string out = "{\"transfers\":[";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TransferRow& r = rows[i];
    if (i) out += ',';
    out += fmt::format(
        R"({{"id":{},"port":{},"machine":{},"program":{},"kind":{},"started":{},"ended":{},"characters":{},"result":{},"reason":{},"failed":{}}})",
        r.id, r.port, json(r.machine), json(r.program), json(r.kind), json(r.started),
        json(r.ended), r.characters, json(r.result), json(r.reason), failed(r) ? "true" : "false");
  }
  return out + "]}";
}

std::string events_page(const EventQuery& q, const std::vector<EventRow>& rows,
                        const std::string& unreadable, const StationSnapshot& s) {
  std::string table;
  for (const EventRow& r : rows) {
    const bool station = r.port == 0;
    const bool bad = station && (r.kind == "line lost" || r.kind == "line dead");
    table += fmt::format(
        R"(<tr{}><td>{}</td><td class="n">{}</td><td>{}</td><td>{}</td><td>{}</td></tr>
)",
        bad ? R"( class="failed")" : "", html(r.time), station ? "-" : std::to_string(r.port),
        station ? "station" : html(r.machine), html(r.kind), html(r.text));
  }
  const std::string body = fmt::format(
      R"(<h1>Events</h1>
{}{}
<table class="events"><thead><tr><th>Time</th><th>Port</th><th>Machine</th><th>Event</th><th>Detail</th></tr></thead>
<tbody>
{}</tbody></table>
{}{})",
      filter_form("/events", q.port, q.day, s, ""), unreadable_note(unreadable), table,
      rows.empty() && unreadable.empty() ? R"(<p class="note">No events.</p>)" : "",
      shown_note(rows.size(), q.limit));
  return page("Events", "/events", s.customer, body);
}

std::string events_json(const std::vector<EventRow>& rows) {
  std::string out = "{\"events\":[";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const EventRow& r = rows[i];
    if (i) out += ',';
    out += fmt::format(R"({{"time":{},"port":{},"machine":{},"kind":{},"text":{}}})", json(r.time),
                       r.port, json(r.machine), json(r.kind), json(r.text));
  }
  return out + "]}";
}

}  // namespace shoplink
