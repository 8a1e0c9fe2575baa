#pragma once
// The site this installation serves: customer name and city from the CUSTOMER file, and the
// site flags that act at start-up.
namespace shoplink {

class Station;

// CUSTOMER in the station directory: line 1 the name, line 2 the city and state; a missing
// file gives empty texts. Also starts the power-up message (Timer7).
void load_customer_profile(Station& s);

inline constexpr const char* kCustomerFile = "CUSTOMER";

}  // namespace shoplink
