#include "base/safe_files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace fs = std::filesystem;

namespace shoplink {

namespace {

constexpr mode_t kFileMode = 0666;  // the umask decides

std::FILE* open_fd(const fs::path& path, int flags, const char* fmode, int& error) {
  const int fd = ::open(path.c_str(), flags | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  std::FILE* f = ::fdopen(fd, fmode);
  if (!f) {
    error = errno;
    ::close(fd);
    return nullptr;
  }
  error = 0;
  return f;
}

bool copy_through_temporary(const fs::path& from, const fs::path& to, std::error_code& ec) {
  const fs::path temp = to.parent_path() / ("~" + to.filename().string() + ".copy");
  int error = 0;
  std::FILE* out = create_temporary(temp, error);
  std::FILE* in = out ? std::fopen(from.c_str(), "rb") : nullptr;
  if (!in) error = error ? error : errno;
  bool ok = in != nullptr;
  char buf[1 << 15];
  std::size_t n = 0;
  while (ok && (n = std::fread(buf, 1, sizeof buf, in)) > 0)
    ok = std::fwrite(buf, 1, n, out) == n || ((error = errno), false);
  if (in && std::ferror(in)) ok = false, error = error ? error : EIO;
  if (in) std::fclose(in);
  if (out) {
    if (ok) ok = flush_to_disk(out, error);
    if (std::fclose(out) != 0 && ok) ok = false, error = errno;
  }
  std::error_code rec;
  if (ok) fs::rename(temp, to, rec);
  if (!ok || rec) {
    fs::remove(temp, rec);
    ec = std::error_code(error ? error : (rec ? rec.value() : EIO), std::generic_category());
    return false;
  }
  return true;
}

}  // namespace

std::FILE* open_for_write(const fs::path& path, WriteMode mode, int& error) {
  if (mode != WriteMode::CreateNew && is_link(path)) {
    std::error_code ec;
    fs::remove(path, ec);  // removes the link, not what it names
  }
  switch (mode) {
    case WriteMode::Truncate:
      return open_fd(path, O_CREAT | O_TRUNC, "wb", error);
    case WriteMode::Append:
      return open_fd(path, O_CREAT | O_APPEND, "ab", error);
    case WriteMode::CreateNew:
      return open_fd(path, O_CREAT | O_EXCL, "wb", error);
  }
  error = EINVAL;
  return nullptr;
}

std::FILE* create_temporary(const fs::path& path, int& error) {
  std::error_code ec;
  // A folder at the name is somebody's and stays: the temporary then cannot be made.
  if (fs::is_symlink(path, ec) || fs::is_regular_file(path, ec)) fs::remove(path, ec);
  return open_for_write(path, WriteMode::CreateNew, error);
}

bool flush_to_disk(std::FILE* f, int& error) {
  errno = 0;
  if (std::fflush(f) != 0) {
    error = errno ? errno : EIO;
    return false;
  }
  if (::fsync(::fileno(f)) != 0 && errno != EINVAL && errno != EROFS) {
    error = errno;
    return false;
  }
  return true;
}

bool append_whole(const fs::path& path, std::string_view text, int& error, bool follow_link) {
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (follow_link ? 0 : O_NOFOLLOW);
  const int fd = ::open(path.c_str(), flags, kFileMode);
  if (fd < 0) {
    error = errno;
    return false;
  }
  error = 0;
  const off_t before = ::lseek(fd, 0, SEEK_END);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  // Cutting back needs no space, so a full disk does not stop it.
  if (error != 0 && before >= 0 && ::ftruncate(fd, before) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  return error == 0;
}

bool keep_copy(const fs::path& from, const fs::path& copy, std::error_code& ec) {
  ec.clear();
  std::error_code rec;
  if (fs::is_symlink(copy, rec) || fs::is_regular_file(copy, rec)) fs::remove(copy, rec);
  if (::link(from.c_str(), copy.c_str()) == 0) return true;
  // File systems without hard links (many shares): a copy, made whole before it is named.
  return copy_through_temporary(from, copy, ec);
}

bool move_file(const fs::path& from, const fs::path& to, std::error_code& ec) {
  ec.clear();
  fs::rename(from, to, ec);
  if (!ec) return true;
  if (ec.value() != EXDEV) return false;
  if (!copy_through_temporary(from, to, ec)) return false;
  fs::remove(from, ec);
  ec.clear();
  return true;
}

bool is_link(const fs::path& p) {
  std::error_code ec;
  return fs::is_symlink(p, ec);
}

fs::path real_path(const fs::path& p) {
  std::error_code ec;
  fs::path r = fs::weakly_canonical(p, ec);
  return ec ? p.lexically_normal() : r;
}

}  // namespace shoplink
