#pragma once
// The status page's own style sheet and script, served from the program: nothing is loaded
// from the internet (shops are often offline), and the page's content security policy
// allows only these.
namespace shoplink {

extern const char* const kStyleSheet;  // /static/shoplink.css
extern const char* const kLiveScript;  // /static/live.js

}  // namespace shoplink
