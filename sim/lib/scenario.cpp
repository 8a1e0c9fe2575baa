#include "scenario.hpp"

#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "binary_check.hpp"
#include "controller_machines.hpp"
#include "machine_codes.hpp"
#include "text_lines.hpp"

namespace shoplink::sim {

namespace {

std::vector<ScenarioToken> tokenize(const std::string& line) {
  std::vector<ScenarioToken> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i >= line.size() || line[i] == '#') break;
    ScenarioToken t;
    if (line[i] == '"') {
      std::size_t j = i + 1;
      while (j < line.size() && line[j] != '"') j += line[j] == '\\' ? 2 : 1;
      if (j >= line.size()) throw ScenarioError("unterminated string");
      t.text = unescape(std::string_view(line).substr(i + 1, j - i - 1));
      t.quoted = true;
      i = j + 1;
    } else {
      std::size_t j = i;
      while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j]))) ++j;
      t.text = line.substr(i, j - i);
      i = j;
    }
    t.end = i;
    out.push_back(std::move(t));
  }
  return out;
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int to_int(const std::string& s, const char* what) {
  try {
    std::size_t used = 0;
    int v = std::stoi(s, &used);
    if (used == s.size()) return v;
  } catch (const std::exception&) {
  }
  throw ScenarioError(std::string("expected a number for ") + what + ", got \"" + s + "\"");
}

int to_port(const std::string& s) {
  int p = to_int(s, "the port");
  if (p < 1 || p > PortController::kPorts) throw ScenarioError("port must be 1 to 8");
  return p;
}

std::string trim_right(std::string s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

const ScenarioToken& at(const std::vector<ScenarioToken>& tok, std::size_t i, const char* what) {
  if (i >= tok.size()) throw ScenarioError(std::string("missing ") + what);
  return tok[i];
}

}  // namespace

std::string unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 >= s.size()) {
      out.push_back(s[i]);
      continue;
    }
    const char c = s[++i];
    switch (c) {
      case 'r':
        out.push_back('\r');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 't':
        out.push_back('\t');
        break;
      case '0':
        out.push_back('\0');
        break;
      case 'x': {
        const std::string hex(s.substr(i + 1, 2));
        if (hex.size() != 2 || !std::isxdigit(static_cast<unsigned char>(hex[0])) ||
            !std::isxdigit(static_cast<unsigned char>(hex[1])))
          throw ScenarioError("bad \\x escape");
        out.push_back(static_cast<char>(std::stoi(hex, nullptr, 16)));
        i += 2;
        break;
      }
      default:
        out.push_back(c);
        break;
    }
  }
  return out;
}

Duration parse_duration(const std::string& text) {
  std::size_t n = 0;
  while (n < text.size() && (std::isdigit(static_cast<unsigned char>(text[n])) || text[n] == '.'))
    ++n;
  const std::string num = text.substr(0, n), unit = lower(text.substr(n));
  double v = 0;
  try {
    std::size_t used = 0;
    v = std::stod(num, &used);
    if (used != num.size()) throw ScenarioError("");
  } catch (const std::exception&) {
    throw ScenarioError("bad duration \"" + text + "\"");
  }
  double ms = 0;
  if (unit == "ms")
    ms = v;
  else if (unit == "s")
    ms = v * 1000;
  else if (unit == "m" || unit == "min")
    ms = v * 60'000;
  else if (unit == "h")
    ms = v * 3'600'000;
  else
    throw ScenarioError("duration \"" + text + "\" needs a unit: ms, s, m or h");
  return Duration(static_cast<std::int64_t>(std::llround(ms * 1e6)));
}

Scenario Scenario::parse(std::string_view text, const std::string& files_dir) {
  Scenario sc;
  sc.files_dir_ = files_dir;
  std::istringstream in{std::string(text)};
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    try {
      sc.parse_line(line);
    } catch (const ScenarioError& e) {
      throw ScenarioError("line " + std::to_string(number) + ": " + e.what());
    }
  }
  return sc;
}

Scenario Scenario::load(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw ScenarioError("cannot read scenario " + path);
  std::stringstream ss;
  ss << f.rdbuf();
  const auto dir = std::filesystem::path(path).parent_path();
  return parse(ss.str(), dir.empty() ? "." : dir.string());
}

std::string Scenario::read_file(const std::string& name) const {
  const auto path = std::filesystem::path(files_dir_) / name;
  std::ifstream f(path, std::ios::binary);
  if (!f) throw ScenarioError("cannot read file " + path.string());
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void Scenario::parse_line(const std::string& line) {
  const Tokens tok = tokenize(line);
  if (tok.empty()) return;
  const std::string head = lower(tok[0].text);
  if (head == "controller") {
    parse_controller(tok, 1);
  } else if (head == "port") {
    parse_port_setting(to_port(at(tok, 1, "port number").text), tok, 2);
  } else if (head == "at") {
    const Duration t = parse_duration(at(tok, 1, "time").text);
    parse_event(t, line, tok, 2);
  } else if (head == "expect") {
    parse_expect(line, tok);
  } else if (head == "run") {
    end_ = parse_duration(at(tok, 1, "duration").text);
    end_given_ = true;
  } else {
    throw ScenarioError("unknown statement \"" + tok[0].text + "\"");
  }
}

void Scenario::parse_controller(const Tokens& tok, std::size_t i) {
  auto& o = options_.controller;
  const std::string what = lower(at(tok, i, "controller setting").text);
  if (what == "answer") {
    std::string answer = at(tok, i + 1, "answer").text;
    setup_.push_back([answer](Shop& s) { s.controller().set_probe_answer(answer); });
  } else if (what == "silent") {
    setup_.push_back([](Shop& s) { s.controller().set_silent(true); });
  } else if (what == "pieces") {
    std::vector<std::string> pieces;
    Duration gap = millis(100);
    for (std::size_t k = i + 1; k < tok.size(); ++k) {
      if (!tok[k].quoted && lower(tok[k].text) == "gap") {
        gap = parse_duration(at(tok, k + 1, "gap").text);
        break;
      }
      pieces.push_back(tok[k].text);
    }
    if (pieces.empty()) throw ScenarioError("pieces needs at least one string");
    setup_.push_back([pieces, gap](Shop& s) { s.controller().set_answer_pieces(pieces, gap); });
  } else if (what == "off") {
    setup_.push_back([](Shop& s) { s.controller().set_powered(false); });
  } else if (what == "high-water") {
    o.high_water = to_int(at(tok, i + 1, "high-water").text, "high-water");
    if (i + 2 < tok.size() && lower(tok[i + 2].text) == "low-water")
      o.low_water = to_int(at(tok, i + 3, "low-water").text, "low-water");
  } else if (what == "honour-rts") {
    o.honour_host_rts = true;
  } else if (what == "select") {
    o.initial_port = to_port(at(tok, i + 1, "port").text);
  } else {
    throw ScenarioError("unknown controller setting \"" + tok[i].text + "\"");
  }
}

void Scenario::parse_port_setting(int port, const Tokens& tok, std::size_t i) {
  MachineConfig& m = options_.machines[port];
  const std::string first = lower(at(tok, i, "port setting").text);
  if (first == "on") {
    // port N on "PATTERN" reply "BYTES"
    const std::string pattern = at(tok, i + 1, "pattern").text;
    if (lower(at(tok, i + 2, "reply").text) != "reply") throw ScenarioError("expected reply");
    const std::string reply = at(tok, i + 3, "reply bytes").text;
    setup_.push_back(
        [port, pattern, reply](Shop& s) { s.machine(port).on_receive(pattern, reply); });
    return;
  }
  for (std::size_t k = i; k < tok.size(); ++k) {
    const std::string w = lower(tok[k].text);
    auto value = [&](const char* what) { return at(tok, ++k, what).text; };
    if (w == "code") {
      if (!parse_code_name(value("code"), m.code))
        throw ScenarioError("unknown code \"" + tok[k].text + "\"");
    } else if (w == "baud") {
      m.baud = to_int(value("baud"), "baud");
      if (m.baud <= 0) throw ScenarioError("baud must be positive");
    } else if (w == "line-end") {
      const std::string e = lower(value("line end"));
      if (e == "crlf")
        m.line_end = "\r\n";
      else if (e == "lf")
        m.line_end = "\n";
      else if (e == "cr")
        m.line_end = "\r";
      else
        throw ScenarioError("line-end is crlf, lf or cr");
    } else if (w == "xoff-at") {
      m.xoff_at = to_int(value("xoff-at"), "xoff-at");
    } else if (w == "xon-at") {
      m.xon_at = to_int(value("xon-at"), "xon-at");
    } else if (w == "consume") {
      m.consume_cps = to_int(value("consume"), "consume");
    } else if (w == "xon") {
      if (lower(value("after")) != "after") throw ScenarioError("expected xon after DELAY");
      m.xon_after_command = parse_duration(value("delay"));
    } else if (w == "lynx") {
      m.lynx_prompts = true;
    } else if (w == "ab-ack") {
      m.ab_ack = true;
    } else if (w == "no-xoff") {
      m.honour_xoff = false;
    } else if (w == "binary") {
      m = binary_machine(m);
    } else if (w == "gap") {
      m.program_gap = parse_duration(value("gap"));
    } else if (w == "reaction") {
      m.reaction_delay = parse_duration(value("reaction"));
    } else {
      throw ScenarioError("unknown port setting \"" + tok[k].text + "\"");
    }
  }
}

void Scenario::parse_event(Duration t, const std::string& line, const Tokens& tok, std::size_t i) {
  last_event_ = std::max(last_event_, t);
  const std::string subject = lower(at(tok, i, "port or controller").text);
  if (subject == "controller") {
    const std::string what = lower(at(tok, i + 1, "controller event").text);
    std::function<void(Shop&)> f;
    if (what == "off")
      f = [](Shop& s) { s.controller().set_powered(false); };
    else if (what == "on")
      f = [](Shop& s) { s.controller().set_powered(true); };
    else if (what == "cts-off")
      f = [](Shop& s) {
        if (s.has_line()) s.line().set_cts_forced_off(true);
      };
    else if (what == "cts-on")
      f = [](Shop& s) {
        if (s.has_line()) s.line().set_cts_forced_off(false);
      };
    else
      throw ScenarioError("unknown controller event \"" + tok[i + 1].text + "\"");
    events_.push_back({t, std::move(f)});
    return;
  }
  if (subject != "port") throw ScenarioError("expected port or controller after the time");
  const int port = to_port(at(tok, i + 1, "port number").text);
  const std::string verb = lower(at(tok, i + 2, "action").text);
  const std::size_t a = i + 3;
  std::function<void(Machine&)> f;
  if (verb == "sends") {
    const ScenarioToken& first = at(tok, a, "what to send");
    if (!first.quoted && lower(first.text) == "raw") {
      std::string raw = at(tok, a + 1, "raw bytes").text;
      f = [raw](Machine& m) { m.send_raw(raw); };
    } else {
      std::string text = first.quoted ? first.text : trim_right(line.substr(tok[a - 1].end));
      text.erase(0, text.find_first_not_of(" \t"));
      f = [text](Machine& m) { m.send_command(text); };
    }
  } else if (verb == "xon") {
    f = [](Machine& m) { m.send_xon(); };
  } else if (verb == "xoff") {
    f = [](Machine& m) { m.send_xoff(); };
  } else if (verb == "dc2") {
    f = [](Machine& m) { m.send_dc2(); };
  } else if (verb == "ack") {
    f = [](Machine& m) { m.send_ack(); };
  } else if (verb == "burny") {
    std::string cmd = a < tok.size() ? tok[a].text : std::string();
    f = [cmd](Machine& m) { m.burny_enquiry(cmd); };
  } else if (verb == "burny-get") {
    std::string name = at(tok, a, "program name").text;
    f = [name](Machine& m) { burny_download(m, name); };
  } else if (verb == "burny-put" || verb == "okuma-uploads") {
    std::string name = at(tok, a, "program name").text;
    if (lower(at(tok, a + 1, "file").text) != "file") throw ScenarioError("expected file NAME");
    std::string text = read_file(at(tok, a + 2, "file name").text);
    if (verb == "burny-put")
      f = [name, text](Machine& m) { burny_upload(m, name, text); };
    else
      f = [name, text](Machine& m) { okuma_upload(m, name, text); };
  } else if (verb == "emco-uploads") {
    if (lower(at(tok, a, "file").text) != "file") throw ScenarioError("expected file NAME");
    std::string text = read_file(at(tok, a + 1, "file name").text);
    f = [text](Machine& m) { emco_upload(m, text); };
  } else if (verb == "lynx") {
    std::string name = at(tok, a, "file name").text;
    f = [name](Machine& m) { m.lynx_request(name); };
  } else if (verb == "uploads") {
    const std::string kind = lower(at(tok, a, "file or text").text);
    std::string text;
    if (kind == "file")
      text = read_file(at(tok, a + 1, "file name").text);
    else if (kind == "text")
      text = at(tok, a + 1, "text").text;
    else
      throw ScenarioError("uploads file NAME or uploads text \"...\"");
    UploadOptions o;
    for (std::size_t k = a + 2; k < tok.size(); ++k) {
      const std::string w = lower(tok[k].text);
      if (w == "dc2")
        o.dc2_first = true;
      else if (w == "bursts")
        o.burst_lines = to_int(at(tok, ++k, "lines").text, "bursts");
      else if (w == "pause")
        o.burst_pause = parse_duration(at(tok, ++k, "pause").text);
      else if (w == "leader")
        o.leader_nuls = to_int(at(tok, ++k, "leader").text, "leader");
      else if (w == "trailer")
        o.trailer_nuls = to_int(at(tok, ++k, "trailer").text, "trailer");
      else
        throw ScenarioError("unknown upload option \"" + tok[k].text + "\"");
    }
    f = [text, o](Machine& m) { m.upload(text, o); };
  } else {
    throw ScenarioError("unknown action \"" + tok[i + 2].text + "\"");
  }
  events_.push_back({t, [port, f](Shop& s) { f(s.machine(port)); }});
}

void Scenario::parse_expect(const std::string& line, const Tokens& tok) {
  std::string what = trim_right(line);
  while (!what.empty() && std::isspace(static_cast<unsigned char>(what.front()))) what.erase(0, 1);
  if (lower(at(tok, 1, "port").text) != "port") throw ScenarioError("expect port N ...");
  const int port = to_port(at(tok, 2, "port number").text);
  const std::string verb = lower(at(tok, 3, "receives or programs").text);
  if (verb == "programs") {
    const int n = to_int(at(tok, 4, "count").text, "programs");
    checks_.push_back([what, port, n](const Shop& s) {
      int complete = 0;
      for (const auto& p : s.machine(port).programs()) complete += p.complete ? 1 : 0;
      return CheckResult{what, complete == n,
                         complete == n ? "" : "received " + std::to_string(complete)};
    });
    return;
  }
  if (verb == "clink") {
    parse_clink_expect(what, port, tok);
    return;
  }
  if (verb != "receives") throw ScenarioError("expect port N receives ... / programs N");
  const std::string kind = lower(at(tok, 4, "file, text or nothing").text);
  if (kind == "nothing") {
    checks_.push_back([what, port](const Shop& s) {
      const auto n = s.machine(port).received_bytes().size();
      return CheckResult{what, n == 0, n == 0 ? "" : std::to_string(n) + " bytes arrived"};
    });
  } else if (kind == "file") {
    const std::string name = at(tok, 5, "file name").text;
    const auto want = significant_lines(read_file(name));
    checks_.push_back([what, port, want](const Shop& s) {
      const auto progs = s.machine(port).programs();
      for (const auto& p : progs)
        if (p.lines() == want) return CheckResult{what, true, ""};
      std::string detail = std::to_string(progs.size()) + " program(s), none matches";
      if (!progs.empty()) {
        const auto got = progs.back().lines();
        for (std::size_t k = 0; k < std::max(got.size(), want.size()); ++k) {
          const std::string g = k < got.size() ? got[k] : "(none)";
          const std::string w = k < want.size() ? want[k] : "(none)";
          if (g != w) {
            detail += "; last one differs at line " + std::to_string(k + 1) + ": got \"" + g +
                      "\", want \"" + w + "\"";
            break;
          }
        }
      }
      return CheckResult{what, false, detail};
    });
  } else if (kind == "binary") {
    const std::string want = read_file(at(tok, 5, "file name").text);
    checks_.push_back([what, port, want](const Shop& s) {
      const BinaryVerdict v = check_binary_transfer(s.machine(port), want);
      return CheckResult{what, v.exact, v.detail};
    });
  } else if (kind == "text") {
    const std::string text = at(tok, 5, "text").text;
    checks_.push_back([what, port, text](const Shop& s) {
      const bool found = s.machine(port).received_text().find(text) != std::string::npos;
      return CheckResult{what, found, found ? "" : "not received"};
    });
  } else {
    throw ScenarioError("expect port N receives file NAME / binary NAME / text \"...\" / nothing");
  }
}

// expect port N clink NAME file FILE | expect port N clink NAME missing
void Scenario::parse_clink_expect(const std::string& what, int port, const Tokens& tok) {
  const std::string name = at(tok, 4, "program name").text;
  const std::string kind = lower(at(tok, 5, "file or missing").text);
  std::vector<std::string> want;
  if (kind == "file")
    want = significant_lines(read_file(at(tok, 6, "file name").text));
  else if (kind != "missing")
    throw ScenarioError("expect port N clink NAME file FILE / missing");
  const bool missing = kind == "missing";
  checks_.push_back([what, port, name, missing, want](const Shop& s) {
    for (const auto& r : clink_replies(s.machine(port)))
      if (r.name == name && r.missing == missing && r.lines == want)
        return CheckResult{what, true, ""};
    return CheckResult{what, false, "no such \"!FD\" reply"};
  });
}

void Scenario::apply(Shop& shop) const {
  for (const auto& f : setup_) f(shop);
  for (const auto& e : events_) {
    auto action = e.action;
    shop.at(e.at, [&shop, action] { action(shop); });
  }
}

std::vector<CheckResult> Scenario::check(const Shop& shop) const {
  std::vector<CheckResult> out;
  for (const auto& c : checks_) out.push_back(c(shop));
  return out;
}

Duration Scenario::end_time() const {
  return end_given_ ? end_ : last_event_ + std::chrono::seconds(30);
}

}  // namespace shoplink::sim
