#include "reports.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <openssl/evp.h>
#include <boost/json.hpp>
#include <trustd/store/store.hpp>

namespace Trustd {
namespace {

bool IsBase64Url(const std::string& part) {
  return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

// base64url without padding -> bytes, through OpenSSL's standard decoder.
bool DecodeBase64Url(const std::string& part, std::string& out) {
  if (part.size() % 4 == 1) return false;
  std::string standard = part;
  for (char& c : standard) c = c == '-' ? '+' : c == '_' ? '/' : c;
  const std::size_t padding = (4 - standard.size() % 4) % 4;
  standard.append(padding, '=');
  out.assign(standard.size() / 4 * 3, '\0');
  const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                     reinterpret_cast<const unsigned char*>(standard.data()),
                                     static_cast<int>(standard.size()));
  if (length < 0) return false;
  out.resize(static_cast<std::size_t>(length) - padding);
  return true;
}

bool IsJsonObject(const std::string& text, boost::json::value& value) {
  boost::system::error_code ec;
  boost::json::parse_options options;
  options.max_depth = 32;
  value = boost::json::parse(text, ec, {}, options);
  return !ec && value.is_object();
}

std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// Reads a regular file (not through a symbolic link) of at most maxBytes.
bool ReadToken(const std::string& path, std::size_t maxBytes, std::string& text, std::string& why) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!ok) why = "not a regular file";
  if (ok && static_cast<std::size_t>(info.st_size) > maxBytes) {
    why = "larger than " + std::to_string(maxBytes) + " bytes";
    ok = false;
  }
  if (ok) {
    text.assign(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t done = 0;
    while (ok && done < text.size()) {
      const ssize_t got = ::read(fd, &text[done], text.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        why = got < 0 ? std::strerror(errno) : "shorter than its size";
        ok = false;
      } else {
        done += static_cast<std::size_t>(got);
      }
    }
  }
  ::close(fd);
  return ok;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

std::vector<std::string> Entries(DIR* dir) {
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

bool IsCompactJws(const std::string& text, std::string& why) {
  const std::size_t first = text.find('.');
  const std::size_t second = first == std::string::npos ? first : text.find('.', first + 1);
  if (second == std::string::npos || text.find('.', second + 1) != std::string::npos) {
    why = "not three parts joined by dots";
    return false;
  }
  const std::string parts[] = {text.substr(0, first), text.substr(first + 1, second - first - 1),
                               text.substr(second + 1)};
  for (const std::string& part : parts) {
    if (!IsBase64Url(part)) {
      why = "a part is empty or not base64url";
      return false;
    }
  }
  std::string header, payload;
  boost::json::value json;
  if (!DecodeBase64Url(parts[0], header) || !IsJsonObject(header, json)) {
    why = "the header is not a JSON object";
    return false;
  }
  const boost::json::value* alg = json.get_object().if_contains("alg");
  if (!alg || !alg->is_string() || alg->get_string().empty() || alg->get_string() == "none") {
    why = "the header names no signing algorithm";
    return false;
  }
  if (!DecodeBase64Url(parts[1], payload) || !IsJsonObject(payload, json)) {
    why = "the payload is not a JSON object";
    return false;
  }
  std::string signature;
  if (!DecodeBase64Url(parts[2], signature) || signature.empty()) {
    why = "the signature is not base64url";
    return false;
  }
  return true;
}

Result<ReportScan, ReportsError> ScanReports(const std::string& directory, std::size_t maxBytes) {
  using R = Result<ReportScan, ReportsError>;
  if (directory.empty()) return R::Failure(ReportsError{true, "no reports directory is configured"});
  const Dir top(::opendir(directory.c_str()));
  if (!top) {
    const int error = errno;
    return R::Failure(ReportsError{
        error == ENOENT, "cannot read the reports directory " + directory + ": " + std::strerror(error)});
  }
  ReportScan scan;
  for (const std::string& service : Entries(top.get())) {
    const std::string serviceDir = directory + "/" + service;
    struct stat info {};
    if (::lstat(serviceDir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
    if (!Store::IsIdentifier(service)) {
      scan.skipped.push_back(serviceDir + ": the directory name is not an attestation service identifier");
      continue;
    }
    const Dir dir(::opendir(serviceDir.c_str()));
    if (!dir) {
      scan.skipped.push_back(serviceDir + ": " + std::strerror(errno));
      continue;
    }
    for (const std::string& name : Entries(dir.get())) {
      constexpr const char* kSuffix = ".jwt";
      if (name.size() <= 4 || name.compare(name.size() - 4, 4, kSuffix) != 0) continue;
      const std::string path = serviceDir + "/" + name;
      const std::string id = service + "." + name.substr(0, name.size() - 4);
      if (!Store::IsIdentifier(id)) {
        scan.skipped.push_back(path + ": the file name does not make a report identifier");
        continue;
      }
      std::string text, why;
      if (!ReadToken(path, maxBytes, text, why)) {
        scan.skipped.push_back(path + ": " + why);
        continue;
      }
      text = Trimmed(text);
      if (!IsCompactJws(text, why)) {
        scan.skipped.push_back(path + ": not a compact JWS: " + why);
        continue;
      }
      scan.reports.push_back(Report{id, service, std::move(text)});
    }
  }
  std::sort(scan.reports.begin(), scan.reports.end(),
            [](const Report& a, const Report& b) { return a.id < b.id; });
  return R::Success(std::move(scan));
}

}  // namespace Trustd
