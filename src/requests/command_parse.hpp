#pragma once
// The working record of one interpreter call: what the command asks for, where it looks,
// and the name cut from it. Cleared at the start of every call; nothing outlives the call.
#include <array>
#include <cstddef>
#include <string>

namespace shoplink {

inline constexpr int kMaxDirEntries = 21;  // directory list indices 0..20

struct CommandParse {
  std::string command;  // copy of rx_line, edited as the command is understood
  std::array<std::string, kMaxDirEntries> send_dirs{};
  std::array<std::string, kMaxDirEntries> receive_dirs{};
  int send_last = 0;
  int receive_last = 0;
  bool multi_dir = false;
  // 1-based positions of the T, R and P command characters in `command`; 0 when absent.
  std::size_t t_pos = 0;
  std::size_t r_pos = 0;
  std::size_t p_pos = 0;
  int dir_number = 0;
  int dir_index = 0;
  int receive_index = 0;
  bool with_id = false;
  bool prog_form = false;
  bool explicit_dir = false;
  bool plain32 = false;
  bool long_names = false;
  std::string program_name;
  std::string program_comment;
  bool xref_retry_done = false;
  // The request's directory before the cross-reference subdirectory was added (its drive
  // cross-referenced); empty when no subdirectory was added.
  std::string xref_dir;
  // Every program number of the directory is taken: the upload has no file of its own.
  bool no_free_number = false;
  // "/32": the upload's number stands for its long name in the CONTENTS index.
  bool indexed_by_name = false;
};

// Which request a name belongs to: it decides the directory a name is taken from and how a
// path in the command is read.
enum class RequestKind { File, Store, Directory };

}  // namespace shoplink
