#include "controller_machines.hpp"

#include "text_lines.hpp"

namespace shoplink::sim {

namespace {

constexpr char kEsc = 27;
constexpr char kSub = 26;

}  // namespace

void burny_download(Machine& m, const std::string& name) {
  m.burny_enquiry("!FG" + name);
}

void burny_upload(Machine& m, const std::string& name, const std::string& program_text) {
  std::string text = program_text;
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += std::string(1, kSub) + "\n";
  m.burny_enquiry("!FD" + name, [&m, text] { m.upload(text); });
}

void emco_upload(Machine& m, const std::string& program_text) {
  m.send_command("%MPF1");
  m.upload(program_text);
}

void okuma_upload(Machine& m, const std::string& name, const std::string& program_text) {
  m.upload("$" + name + "%\n" + program_text);
}

std::vector<ClinkReply> clink_replies(const Machine& m) {
  const std::string text = m.received_text();
  const std::string head = std::string(1, kEsc) + "!FD";
  std::vector<ClinkReply> out;
  for (std::size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
    ClinkReply r;
    const std::size_t name_at = at + head.size();
    const std::size_t eol = text.find("\r\n", name_at);
    if (eol == std::string::npos) break;
    r.name = text.substr(name_at, eol - name_at);
    const std::size_t body = eol + 2;
    r.missing = body < text.size() && text[body] == kSub;
    if (!r.missing) {
      const std::size_t end = text.find(kSub, body);
      r.lines = significant_lines(text.substr(body, end == std::string::npos ? end : end - body));
      if (!r.lines.empty() && r.lines.front() == "%") r.lines.erase(r.lines.begin());
    }
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace shoplink::sim
