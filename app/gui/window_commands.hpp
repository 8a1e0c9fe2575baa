#pragma once
// Joins the desktop window's menus, keys, selector and buttons to the station's commands.
namespace shoplink {
class QtWindow;
class Station;

void connect_window(QtWindow& window, Station& s);
}  // namespace shoplink
