#pragma once
// The status page's HTML and JSON, built from what the server read (a snapshot, journal
// rows): plain HTML and CSS, every text escaped, nothing loaded from elsewhere.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/station_snapshot.hpp"
#include "web/activity_chart.hpp"
#include "web/journal_view.hpp"

namespace shoplink {

// Program contents (and each side of a diff) larger than this are not shown on a page.
inline constexpr std::int64_t kMaxShownProgram = 1 << 20;
// The markup of one program or diff is cut beyond this.
inline constexpr std::size_t kMaxShownMarkup = 3 << 20;

// The frame every page shares: title, the menu with `here` marked, the customer's name.
std::string page(const std::string& title, std::string_view here, const std::string& customer,
                 const std::string& body);
std::string error_page(int status, const std::string& message, const std::string& customer);
// {"error": message}
std::string error_json(const std::string& message);

// "/": the station, the eight ports as tiles, the end of the system log.
std::string station_page(const StationSnapshot& s, const std::vector<std::string>& log);
std::string tile_html(const PortSnapshot& p);
// The log's lines as a JSON array, for the live stream.
std::string log_json(const std::vector<std::string>& log);

std::array<std::string, NumPorts> machine_names(const StationSnapshot& s);

std::string transfers_page(const TransferQuery& q, const std::vector<TransferRow>& rows,
                           const std::string& unreadable, const StationSnapshot& s);
std::string transfers_json(const std::vector<TransferRow>& rows);
std::string events_page(const EventQuery& q, const std::vector<EventRow>& rows,
                        const std::string& unreadable, const StationSnapshot& s);
std::string events_json(const std::vector<EventRow>& rows);

std::string activity_page(const ActivityDay& d, const std::string& today,
                          const std::string& unreadable, const StationSnapshot& s);
std::string activity_json(const ActivityDay& d);

std::string programs_page(const std::vector<ProgramSummary>& programs,
                          const std::string& unreadable, const StationSnapshot& s);
// Several listed programs have the name asked for: which one?
std::string choose_program_page(const std::string& name, const std::vector<std::string>& matches,
                                const StationSnapshot& s);
std::string program_page(const std::string& program, const std::vector<Revision>& revisions,
                         bool contents_served, const StationSnapshot& s);
std::string diff_page(const std::string& program, const std::string& old_label,
                      const std::string& new_label, const std::string& diff,
                      const StationSnapshot& s);
std::string content_page(const std::string& program, const Revision& r, const std::string& bytes,
                         const StationSnapshot& s);
std::string history_json(const std::string& program, const std::vector<Revision>& revisions);
// Where a program's page is: /programs/ and the program's path, encoded.
std::string program_link(const std::string& program);

}  // namespace shoplink
