#include "options.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <openssl/crypto.h>
#include <boost/asio/ip/address.hpp>
#include <boost/url/parse.hpp>

namespace Trustload {

Trustd::Result<Endpoint> ParseLoopbackServer(const std::string& url) {
  using R = Trustd::Result<Endpoint>;
  const auto parsed = boost::urls::parse_absolute_uri(url);
  const bool https = parsed && parsed->scheme() == "https";
  if (!parsed || (!https && parsed->scheme() != "http") || parsed->host().empty() ||
      (!parsed->encoded_path().empty() && parsed->encoded_path() != "/") || parsed->has_query() ||
      parsed->has_userinfo() || parsed->has_fragment())
    return R::Failure("the server \"" + url + "\" is not http(s)://<address>[:<port>]");
  Endpoint endpoint;
  endpoint.tls = https;
  bool loopback = false;
  switch (parsed->host_type()) {
    case boost::urls::host_type::ipv4: {
      const auto address = boost::asio::ip::make_address_v4(parsed->host_ipv4_address().to_bytes());
      loopback = (address.to_uint() >> 24) == 127;
      endpoint.host = address.to_string();
      break;
    }
    case boost::urls::host_type::ipv6: {
      const auto address = boost::asio::ip::make_address_v6(parsed->host_ipv6_address().to_bytes());
      loopback = address.is_loopback();
      endpoint.host = address.to_string();
      break;
    }
    default:
      break;
  }
  if (!loopback)
    return R::Failure("the server \"" + url +
                      "\" is not a loopback address: trustload only loads a trustd on this host "
                      "(127.0.0.0/8 or [::1], as an IP literal)");
  endpoint.port = parsed->has_port() ? parsed->port_number() : (https ? 443 : 80);
  if (endpoint.port == 0) return R::Failure("the server \"" + url + "\" has no usable port");
  return R::Success(std::move(endpoint));
}

Trustd::Result<Tovri::SecretString> ReadTokenFile(const std::string& path) {
  using R = Trustd::Result<Tovri::SecretString>;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return R::Failure("cannot read the token file " + path + ": " + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & 077) != 0 || info.st_size > 4096) {
    ::close(fd);
    return R::Failure("the token file " + path +
                      " must be a regular file of at most 4 KiB that only its owner can read (chmod 600)");
  }
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  const ssize_t got = text.empty() ? 0 : ::read(fd, &text[0], text.size());
  const int readError = errno;
  ::close(fd);
  if (got < 0) return R::Failure("cannot read the token file " + path + ": " + std::strerror(readError));
  text.resize(static_cast<std::size_t>(got));
  std::string first = text.substr(0, text.find_first_of("\r\n"));
  if (!text.empty()) OPENSSL_cleanse(&text[0], text.size());
  const std::size_t begin = first.find_first_not_of(" \t");
  const std::size_t end = first.find_last_not_of(" \t");
  std::string token = begin == std::string::npos ? std::string() : first.substr(begin, end - begin + 1);
  if (!first.empty()) OPENSSL_cleanse(&first[0], first.size());
  if (token.empty()) return R::Failure("the token file " + path + " is empty");
  Tovri::SecretString secret;
  secret.Assign(std::move(token));
  return R::Success(std::move(secret));
}

}  // namespace Trustload
