#pragma once
// Writing files in folders that other people can write too (program folders are often
// network shares): a link planted where the station writes is never written through, a
// temporary is always a file the station has just made, and a file is put in its place in
// one step, so that a stop at any moment leaves the old content or the new, never a part.
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace shoplink {

enum class WriteMode {
  Truncate,   // create or empty the file
  Append,     // create or add at the end
  CreateNew,  // a file made now; an entry already standing there is an error (EEXIST)
};

// Opens `path` for writing without following a link at its last component: a link standing
// there is removed first (the link, never what it names), so the write makes a file of the
// station's own. nullptr on failure, with `error` set to the error number.
std::FILE* open_for_write(const std::filesystem::path& path, WriteMode mode, int& error);

// Adds `text` at the end of the file at `path` (made when missing, a link at its name not
// followed) all or nothing: a write that fails part-way (a full disk) is cut back off, so the
// next entry never runs on from a broken one. False with `error` set on failure.
// `follow_link` lets an operator's own link at that name lead to the file it names.
bool append_whole(const std::filesystem::path& path, std::string_view text, int& error,
                  bool follow_link = false);

// A temporary for `path`'s content: a file or link standing at that name (left by a stop, or
// planted) is removed and a new file made there (CreateNew).
std::FILE* create_temporary(const std::filesystem::path& path, int& error);

// Flushes `f` to the disk (fflush and fsync); false with `error` set on failure.
bool flush_to_disk(std::FILE* f, int& error);

// Makes `copy` hold what `from` holds, without a moment where `from` is missing: a second
// name for the same file where the file system allows it, otherwise a copy through a
// temporary. An entry already at `copy` is replaced.
bool keep_copy(const std::filesystem::path& from, const std::filesystem::path& copy,
               std::error_code& ec);

// Renames `from` to `to`, replacing `to` (a link there is replaced, not followed); across
// file systems the content is copied to a temporary beside `to`, renamed, and `from` removed.
bool move_file(const std::filesystem::path& from, const std::filesystem::path& to,
               std::error_code& ec);

// `p` names a link (not followed).
bool is_link(const std::filesystem::path& p);

// Where `p` really is: every link followed, ".." resolved; as much of it as exists.
std::filesystem::path real_path(const std::filesystem::path& p);

}  // namespace shoplink
