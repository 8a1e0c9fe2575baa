#include <fmt/format.h>

#include "web/pages.hpp"
#include "web/web_text.hpp"

namespace shoplink {

namespace {

constexpr std::pair<const char*, const char*> kMenu[] = {{"/", "Station"},
                                                         {"/transfers", "Transfers"},
                                                         {"/events", "Events"},
                                                         {"/activity", "Activity"},
                                                         {"/programs", "Programs"}};

}  // namespace

std::string page(const std::string& title, std::string_view here, const std::string& customer,
                 const std::string& body) {
  std::string menu;
  for (const auto& [href, text] : kMenu)
    menu +=
        fmt::format(R"(<a href="{}"{}>{}</a>)", href, here == href ? R"( class="here")" : "", text);
  return fmt::format(
      R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{} - ShopLink</title>
<link rel="stylesheet" href="/static/shoplink.css">
</head><body>
<header><span class="brand">ShopLink</span><span class="customer">{}</span><nav>{}</nav></header>
<main>
{}
</main>
<footer>ShopLink DNC station. The same data as JSON: <a href="/api/status">/api/status</a>,
<a href="/api/transfers">/api/transfers</a>, <a href="/api/events">/api/events</a>,
<a href="/api/activity">/api/activity</a>.</footer>
</body></html>
)",
      html(title), html(customer), menu, body);
}

std::string error_page(int status, const std::string& message, const std::string& customer) {
  return page(std::to_string(status), "", customer,
              fmt::format("<h1>{}</h1><p>{}</p>", status, html(message)));
}

std::string error_json(const std::string& message) {
  return "{\"error\":" + json(message) + "}";
}

std::array<std::string, NumPorts> machine_names(const StationSnapshot& s) {
  std::array<std::string, NumPorts> names;
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = s.ports[i].machine;
  return names;
}

}  // namespace shoplink
