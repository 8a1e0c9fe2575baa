#pragma once
// The control characters of the line protocols, by their names.
namespace shoplink::ctl {
inline constexpr char NUL = 0;
inline constexpr char EOT = 4;
inline constexpr char ETX = 3;
inline constexpr char ENQ = 5;
inline constexpr char ACK = 6;
inline constexpr char LF = 10;
inline constexpr char CR = 13;
inline constexpr char DC1 = 17;  // Xon
inline constexpr char DC2 = 18;
inline constexpr char DC3 = 19;  // Xoff
inline constexpr char DC4 = 20;  // the port controller's command prefix
inline constexpr char SYN = 22;
inline constexpr char SUB = 26;
inline constexpr char ESC = 27;
}  // namespace shoplink::ctl
