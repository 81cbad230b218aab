// The store's file operations on the platform's own calls: the wide Win32 functions on Windows,
// POSIX elsewhere. No C++ library file layer: the DLL links neither <filesystem> nor streams.
#include "settings/ini_files.h"

#include <cerrno>
#include <string>

#include "settings/ini_text.h"  // the temporary files' numbers

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

namespace {

int ErrnoFromLastError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EIO;
  }
}

}  // namespace

std::string Utf8FromWide(const std::wstring& wide) {
  if (wide.empty()) return {};
  // An unpaired surrogate would become U+FFFD, naming another file. Checked here rather than
  // with WC_ERR_INVALID_CHARS, which Windows XP refuses.
  for (size_t i = 0; i < wide.size(); ++i) {
    const wchar_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF)
      ++i;
    else if (c >= 0xD800 && c <= 0xDFFF)
      return {};
  }
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                    nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], n, nullptr, nullptr) != n)
    return {};
  return out;
}

std::wstring WideFromUtf8(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), &out[0], n) !=
      n)
    return {};
  return out;
}

std::FILE* PortableOpen(const std::string& path, FileOpen how) {
  const std::wstring wide = WideFromUtf8(path);
  if (wide.empty()) {
    errno = EINVAL;
    return nullptr;
  }
  DWORD disposition = OPEN_EXISTING;
  switch (how) {
    case FileOpen::Existing: disposition = OPEN_EXISTING; break;
    case FileOpen::OpenOrCreate: disposition = OPEN_ALWAYS; break;
    case FileOpen::CreateNew: disposition = CREATE_NEW; break;
    case FileOpen::TruncateExisting: disposition = TRUNCATE_EXISTING; break;
  }
  // No sharing: nobody else opens the file meanwhile. Not inherited by child processes.
  HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // Windows answers "access denied" for a name taken by a folder or a file being deleted:
    // that name is taken, not a folder refusing new files.
    const bool taken = how == FileOpen::CreateNew && error == ERROR_ACCESS_DENIED &&
                       GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
    errno = taken ? EEXIST : ErrnoFromLastError(error);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    errno = EMFILE;
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "r+b");
  if (!file) {
    const int e = errno;
    _close(fd);
    errno = e;
  }
  return file;
}

bool PortableSync(std::FILE* file) {
  if (std::fflush(file) != 0 || std::ferror(file)) return false;
  const intptr_t handle = _get_osfhandle(_fileno(file));
  return handle != -1 && FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != FALSE;
}

bool PortableResize(std::FILE* file, uint64_t size) {
  if (std::fflush(file) != 0) return false;
  const intptr_t handle = _get_osfhandle(_fileno(file));
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  return handle != -1 && SetFilePointerEx(reinterpret_cast<HANDLE>(handle), at, nullptr, FILE_BEGIN) &&
         SetEndOfFile(reinterpret_cast<HANDLE>(handle)) && std::fseek(file, 0, SEEK_SET) == 0;
}

bool PortableReplace(const std::string& from, const std::string& to) {
  const std::wstring source = WideFromUtf8(from), target = WideFromUtf8(to);
  if (source.empty() || target.empty()) return false;
  // A read-only file is the user's way of freezing it: keep it, even where the file system
  // would let us replace it.
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_READONLY) return false;
    // The new file takes the old one's attributes before it moves in, so the file never shows
    // without them. It is new content, so it is marked for archiving.
    const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                                     FILE_ATTRIBUTE_TEMPORARY);
    SetFileAttributesW(source.c_str(), kept | FILE_ATTRIBUTE_ARCHIVE);
  }
  return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void PortableRemove(const std::string& path) {
  const std::wstring wide = WideFromUtf8(path);
  if (!wide.empty()) DeleteFileW(wide.c_str());
}

#else  // POSIX

std::FILE* PortableOpen(const std::string& path, FileOpen how) {
  int flags = O_RDWR | O_CLOEXEC;
  switch (how) {
    case FileOpen::Existing: break;
    case FileOpen::OpenOrCreate: flags |= O_CREAT; break;
    case FileOpen::CreateNew: flags |= O_CREAT | O_EXCL; break;
    case FileOpen::TruncateExisting: flags |= O_TRUNC; break;
  }
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "r+b");
  if (!file) {
    const int e = errno;
    ::close(fd);
    errno = e;
  }
  return file;
}

bool PortableSync(std::FILE* file) {
  return std::fflush(file) == 0 && !std::ferror(file) && fsync(fileno(file)) == 0;
}

bool PortableResize(std::FILE* file, uint64_t size) {
  return std::fflush(file) == 0 && ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

bool PortableReplace(const std::string& from, const std::string& to) {
  // The new file takes the old one's permissions.
  struct stat old = {};
  if (::stat(to.c_str(), &old) == 0) ::chmod(from.c_str(), old.st_mode & 07777);
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  // The rename itself reaches the disk with the folder's entry. Some file systems cannot sync
  // a folder; the file is in place all the same.
  const size_t slash = to.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    ::close(dir);
  }
  return true;
}

void PortableRemove(const std::string& path) { ::unlink(path.c_str()); }

#endif

std::FILE* CreateTemporaryFile(const IniFileSystem& fs, const std::string& path, std::string& tempPath) {
  for (int n = 1; n <= 100; ++n) {
    tempPath = path + "." + FormatUInt64(static_cast<uint64_t>(n)) + ".tmp";
    if (std::FILE* file = fs.open(tempPath, FileOpen::CreateNew)) return file;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

const IniFileSystem kPortableFileSystem = {PortableOpen, PortableReplace, PortableRemove, PortableSync};
