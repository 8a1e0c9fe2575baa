#include "journal/text_diff.hpp"

#include <algorithm>
#include <dtl/dtl.hpp>

#include "base/text.hpp"

namespace shoplink {

namespace {

enum class Op { Same, Removed, Added };

struct Edit {
  Op op;
  const std::string* line;
};

// "@@ -a,b +c,d @@" in the form diff(1) writes: a range of one line without its count, an
// empty range at the line before it.
std::string range(std::size_t first, std::size_t count) {
  if (count == 1) return std::to_string(first + 1);
  return std::to_string(count == 0 ? first : first + 1) + "," + std::to_string(count);
}

}  // namespace

std::vector<std::string> program_lines(std::string_view bytes) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;  // characters since the last line end
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = static_cast<char>(static_cast<unsigned char>(bytes[i]) & 0x7f);
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < bytes.size() &&
          (static_cast<unsigned char>(bytes[i + 1]) & 0x7f) == '\n')
        ++i;
      lines.push_back(std::move(line));
      line.clear();
      open = false;
    } else {
      line += c;
      open = true;
    }
  }
  if (open) lines.push_back(std::move(line));
  return lines;
}

std::string unified_diff(std::string_view old_bytes, std::string_view new_bytes,
                         const std::string& old_label, const std::string& new_label, int context) {
  const std::vector<std::string> a = program_lines(old_bytes);
  const std::vector<std::string> b = program_lines(new_bytes);
  if (a == b) return {};

  dtl::Diff<std::string, std::vector<std::string>> diff(a, b, true);
  if (a.size() + b.size() > 100000) diff.onHuge();
  diff.compose();
  const auto script = diff.getSes().getSequence();

  std::vector<Edit> edits;
  edits.reserve(script.size());
  for (const auto& [line, info] : script) {
    const Op op = info.type == dtl::SES_ADD      ? Op::Added
                  : info.type == dtl::SES_DELETE ? Op::Removed
                                                 : Op::Same;
    edits.push_back({op, &line});
  }

  std::string out = "--- " + old_label + "\n+++ " + new_label + "\n";
  const auto ctx = static_cast<std::size_t>(std::max(context, 0));
  std::size_t k = 0;
  std::size_t ai = 0, bi = 0;  // line positions at edits[k]
  while (k < edits.size()) {
    // The next change, then the hunk around it: it goes on while the gap of unchanged lines
    // to the next change is at most twice the context.
    std::size_t first = k;
    std::size_t a_at = ai, b_at = bi;
    while (first < edits.size() && edits[first].op == Op::Same) {
      ++first;
      ++a_at;
      ++b_at;
    }
    if (first == edits.size()) break;
    const std::size_t lead = std::min(ctx, first - k);
    std::size_t start = first - lead;
    std::size_t a_start = a_at - lead, b_start = b_at - lead;
    std::size_t end = first;  // one past the hunk's last edit
    for (std::size_t i = first; i < edits.size();) {
      if (edits[i].op != Op::Same) {
        end = ++i;
        continue;
      }
      std::size_t run = i;
      while (run < edits.size() && edits[run].op == Op::Same) ++run;
      if (run == edits.size() || run - i > 2 * ctx) {
        end = std::min(run, i + ctx);
        break;
      }
      i = run;
    }
    std::string body;
    std::size_t a_count = 0, b_count = 0;
    for (std::size_t i = start; i < end; ++i) {
      const char mark = edits[i].op == Op::Same ? ' ' : edits[i].op == Op::Removed ? '-' : '+';
      if (edits[i].op != Op::Added) ++a_count;
      if (edits[i].op != Op::Removed) ++b_count;
      body += mark;
      body += visible(*edits[i].line);
      body += '\n';
    }
    out += "@@ -" + range(a_start, a_count) + " +" + range(b_start, b_count) + " @@\n" + body;
    // Positions after the hunk.
    ai = a_start + a_count;
    bi = b_start + b_count;
    k = end;
  }
  return out;
}

}  // namespace shoplink
