#include <fmt/format.h>

#include "web/pages.hpp"
#include "web/web_text.hpp"

namespace shoplink {

namespace {

std::string how(const Revision& r) {
  return r.note.empty() ? r.origin : r.origin + " (" + r.note + ")";
}

// Lines of a program or a diff as markup, each with the class `line_class` gives it, cut
// when the markup would pass kMaxShownMarkup.
template <class LineClass>
std::string lines_markup(const std::string& text, const LineClass& line_class) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    auto end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const char* cls = line_class(line);
    std::string piece =
        *cls ? fmt::format(R"(<span class="{}">{}</span>)", cls, html(line)) : html(line) + "\n";
    if (out.size() + piece.size() > kMaxShownMarkup) {
      out +=
          "\n(cut here: the rest is more than this page shows; shoplink diff at the station "
          "shows all of it)\n";
      break;
    }
    out += piece;
    at = end + 1;
  }
  return out;
}

}  // namespace

std::string program_link(const std::string& program) {
  return "/programs/" + url_encoded(program);
}

std::string programs_page(const std::vector<ProgramSummary>& programs,
                          const std::string& unreadable, const StationSnapshot& s) {
  std::string rows;
  for (const ProgramSummary& p : programs)
    rows += fmt::format(
        R"(<tr><td><a href="{}" title="{}">{}</a></td><td class="n">{}</td><td class="n">{}</td><td>{}</td></tr>
)",
        html(program_link(p.program)), html(p.program), html(file_name_of(p.program)), p.revisions,
        p.newest, html(p.changed));
  const std::string body = fmt::format(
      R"(<h1>Programs with a history</h1>
{}<table><thead><tr><th>Program</th><th>Revisions kept</th><th>Newest</th><th>Last change</th></tr></thead>
<tbody>
{}</tbody></table>
{})",
      unreadable.empty() ? ""
                         : fmt::format(R"(<p class="note">The journal cannot be read now: {}</p>)",
                                       html(unreadable)),
      rows,
      programs.empty() && unreadable.empty()
          ? R"(<p class="note">No program has a history yet: the station keeps one when an upload, a manual receive or a restore replaces a program.</p>)"
          : "");
  return page("Programs", "/programs", s.customer, body);
}

std::string choose_program_page(const std::string& name, const std::vector<std::string>& matches,
                                const StationSnapshot& s) {
  std::string list;
  for (const auto& m : matches)
    list += fmt::format(R"(<li><a href="{}">{}</a></li>)", html(program_link(m)), html(m));
  return page("Programs named " + name, "/programs", s.customer,
              fmt::format("<h1>Programs named {}</h1><ul>{}</ul>", html(name), list));
}

std::string program_page(const std::string& program, const std::vector<Revision>& revisions,
                         bool contents_served, const StationSnapshot& s) {
  const std::string link = html(program_link(program));
  std::string rows;
  for (const Revision& r : revisions) {
    const std::string actions =
        contents_served
            ? fmt::format(
                  R"(<a href="{0}?rev={1}">changes</a> <a href="{0}?rev={1}&amp;against=current">against the current file</a> <a href="{0}?rev={1}&amp;show=content">content</a>)",
                  link, r.number)
            : "";
    rows += fmt::format(
        R"(<tr><td class="n">{}</td><td>{}</td><td class="n">{}</td><td>{}</td><td class="n">{}</td><td>{}</td><td>{}</td></tr>
)",
        r.number, html(r.time), r.port > 0 ? std::to_string(r.port) : "-",
        r.machine.empty() ? "-" : html(r.machine), grouped(r.size), html(how(r)), actions);
  }
  const std::string body = fmt::format(
      R"(<h1>{}</h1>
<p class="note">{}</p>
{}<table><thead><tr><th>Revision</th><th>Time</th><th>Port</th><th>Machine</th><th>Size</th><th>How</th><th></th></tr></thead>
<tbody>
{}</tbody></table>)",
      html(file_name_of(program)), html(program),
      contents_served
          ? ""
          : R"(<p class="note">Program contents and their changes are shown only with a password: WEB_PASSWORD= in the station's HOSTMAP.</p>)",
      rows);
  return page(file_name_of(program), "/programs", s.customer, body);
}

std::string diff_page(const std::string& program, const std::string& old_label,
                      const std::string& new_label, const std::string& diff,
                      const StationSnapshot& s) {
  const std::string markup = lines_markup(diff, [](const std::string& line) {
    if (line.rfind("@@", 0) == 0) return "hunk";
    if (line.rfind("+++", 0) == 0 || line.rfind("---", 0) == 0) return "";
    if (!line.empty() && line[0] == '+') return "add";
    if (!line.empty() && line[0] == '-') return "del";
    return "";
  });
  const std::string body = fmt::format(
      R"(<h1>{}</h1><p><a href="{}">revisions</a></p><p>{}<br>against {}</p>{})",
      html(file_name_of(program)), html(program_link(program)), html(new_label), html(old_label),
      diff.empty() ? R"(<p class="note">No differences.</p>)"
                   : R"(<pre class="diff">)" + markup + "</pre>");
  return page("Changes of " + file_name_of(program), "/programs", s.customer, body);
}

std::string content_page(const std::string& program, const Revision& r, const std::string& bytes,
                         const StationSnapshot& s) {
  const std::string markup = lines_markup(bytes, [](const std::string&) { return ""; });
  const std::string body = fmt::format(
      R"(<h1>{} revision {}</h1><p><a href="{}">revisions</a> <span class="note">{}, {}, {} characters</span></p><pre class="program">{}</pre>)",
      html(file_name_of(program)), r.number, html(program_link(program)), html(r.time),
      html(how(r)), grouped(r.size), markup);
  return page(file_name_of(program) + " revision " + std::to_string(r.number), "/programs",
              s.customer, body);
}

std::string history_json(const std::string& program, const std::vector<Revision>& revisions) {
  std::string out = "{\"program\":" + json(program) + ",\"revisions\":[";
  for (std::size_t i = 0; i < revisions.size(); ++i) {
    const Revision& r = revisions[i];
    if (i) out += ',';
    out += fmt::format(
        R"({{"number":{},"time":{},"port":{},"machine":{},"origin":{},"note":{},"size":{}}})",
        r.number, json(r.time), r.port, json(r.machine), json(r.origin), json(r.note), r.size);
  }
  return out + "]}";
}

}  // namespace shoplink
